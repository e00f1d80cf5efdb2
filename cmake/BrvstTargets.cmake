# Compile settings shared by our own targets.

# Warnings are errors on our code; foreign code (googletest) keeps its own settings.
function(brvst_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Our code, with sanitizers when asked for. Foreign code we merely host (probe plug-ins built
# to misbehave, the Windows runtime) is not instrumented.
function(brvst_defaults target)
  brvst_warnings(${target})
  if(BRVST_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(BRVST_TSAN)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
  # Fuzzing: the static libraries the fuzz targets take in are instrumented for coverage and the
  # sanitizers; the targets link the runtimes. Shared objects and helper programs stay plain.
  get_target_property(type ${target} TYPE)
  if(BRVST_BUILD_FUZZ AND type STREQUAL "STATIC_LIBRARY")
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                             -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  endif()
endfunction()

# A VST 2 plug-in module: no "lib" prefix; on Linux an ELF object that keeps the Windows name.
function(brvst_plugin_module target output_name)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME "${output_name}" SUFFIX ".dll")
  target_link_libraries(${target} PRIVATE brvst_vst2)
  if(NOT WIN32)
    # As a DLL: its own references bind to itself, whatever the host exports.
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,-Bsymbolic)
  endif()
endfunction()
