# Exports of a VST 2 plug-in module, the same names on every platform: the list is rendered as a
# .def file on Windows and as a linker version script elsewhere.
#
# brvst_plugin_exports(<target> <file base> ENTRY <function exported as "main"> NAMES <names...>)
# A plug-in's "main" cannot be a C++ function of that name: on ELF the build names the symbol
# (PLUGIN_MAIN_SYMBOL); on Windows the .def file exports the function under that name.
function(brvst_plugin_exports target module)
  cmake_parse_arguments(E "" "ENTRY" "NAMES" ${ARGN})
  if(WIN32)
    set(def "EXPORTS\n")
    foreach(name IN LISTS E_NAMES)
      if(name STREQUAL "main")
        string(APPEND def "  main=${E_ENTRY}\n")
      else()
        string(APPEND def "  ${name}\n")
      endif()
    endforeach()
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${module}.def "${def}")
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${module}.def)
    target_compile_definitions(${target} PRIVATE PLUGIN_EXPORT= PLUGIN_MAIN_SYMBOL=)
  else()
    list(JOIN E_NAMES "; " names)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${module}.map "{\n  global: ${names};\n  local: *;\n};\n")
    target_link_options(${target} PRIVATE
                        -Wl,--version-script=${CMAKE_CURRENT_BINARY_DIR}/${module}.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
                 ${CMAKE_CURRENT_BINARY_DIR}/${module}.map)
    target_compile_definitions(${target} PRIVATE
                               [=[PLUGIN_EXPORT=__attribute__((visibility("default")))]=]
                               [=[PLUGIN_MAIN_SYMBOL=__asm__("main")]=])
  endif()
endfunction()
