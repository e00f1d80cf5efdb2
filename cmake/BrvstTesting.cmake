# Test framework and test registration.
#
# Linux: Debian's GoogleTest, one CTest case per test.
# Windows: GoogleTest built from Debian's sources with the cross compiler. Each suite runs under
# the Wine of its processor, in a prefix of the build's own (one CTest case per executable, since
# every Wine start costs): the x86_64 suite under wine64, the i686 suite under 32-bit Wine in a
# 32-bit prefix. Tests that need the system's own DirectShow runtime run under wine64 only.

if(CMAKE_CROSSCOMPILING)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(BRVST_GTEST_MAIN GTest::gtest_main)
  set(BRVST_GMOCK GTest::gmock)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
    add_library(GTest::gtest ALIAS gtest)
  endif()
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(BRVST_RUN_WINDOWS_TESTS ON)
  set(BRVST_SYSTEM_DIRECTSHOW_TESTS ON)
  set(BRVST_WINE /usr/lib/wine/wine64)
  set(BRVST_WINESERVER /usr/lib/wine/wineserver64)
  set(BRVST_WINEARCH win64)
elseif(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(BRVST_RUN_WINDOWS_TESTS ON)
  # Wine's DirectShow runtime needs 32-bit GStreamer plug-ins for files, which we do not install.
  set(BRVST_SYSTEM_DIRECTSHOW_TESTS OFF)
  set(BRVST_WINE /usr/lib/wine/wine)
  set(BRVST_WINESERVER /usr/lib/wine/wineserver32)
  set(BRVST_WINEARCH win32)
else()
  set(BRVST_RUN_WINDOWS_TESTS OFF)
endif()

if(BRVST_RUN_WINDOWS_TESTS)
  set(BRVST_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${PROJECT_SOURCE_DIR}/tests/windows/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                 WORLD_READ WORLD_EXECUTE)
  # Creating the Wine prefix takes a while; do it once, before any Windows test.
  add_test(NAME wine_prefix COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh --boot)
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
endif()

# brvst_test(<name> SOURCES ... [LIBS ...] [SYSTEM_DIRECTSHOW])
# SYSTEM_DIRECTSHOW: the tests drive the system's own DirectShow runtime; built everywhere, run
# only where that runtime is complete.
function(brvst_test name)
  cmake_parse_arguments(T "SYSTEM_DIRECTSHOW" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  brvst_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE BRVST_BIN_DIR="${BRVST_BIN_DIR}")
  if(NOT CMAKE_CROSSCOMPILING)
    # A registry of the build's own, one file per test process: tests never touch the user's
    # registry, nor each other's while CTest runs them in parallel.
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/private_registry.cpp)
    target_compile_definitions(${name} PRIVATE BRVST_TEST_REGISTRY_DIR="${CMAKE_BINARY_DIR}")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120
                         ENVIRONMENT "BRVST_REGISTRY=${CMAKE_BINARY_DIR}/test-registry.reg")
  elseif(BRVST_RUN_WINDOWS_TESTS AND (BRVST_SYSTEM_DIRECTSHOW_TESTS OR NOT T_SYSTEM_DIRECTSHOW))
    add_test(NAME ${name} COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600)
  endif()
endfunction()
