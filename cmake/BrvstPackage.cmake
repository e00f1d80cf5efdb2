# The release zip of a Windows build (`--target package`): the adapter, its plug-in and help, the
# renderer, the README and the install text, in one folder. The binaries link the C++ runtime
# statically and import system DLLs only, so nothing else goes with them.
install(TARGETS brvst vid84 brvst-render
        RUNTIME DESTINATION . LIBRARY DESTINATION .
        # The adapter's import library is for no one: hosts find it through COM.
        ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
install(FILES ${BRVST_BIN_DIR}/brvst.chm ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/docs/INSTALL-windows.txt
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME brvst)
set(CPACK_PACKAGE_VENDOR "Brimley Music Software")
set(brvst_zip_name brvst-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_PACKAGE_FILE_NAME ${brvst_zip_name})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)  # the debug information stays in the build
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The x86_64 zip unpacked into a Wine prefix of its own, registered and used as a user would.
if(BRVST_BUILD_TESTS AND BRVST_SYSTEM_DIRECTSHOW_TESTS)
  add_test(NAME release_zip
           COMMAND ${PROJECT_SOURCE_DIR}/tests/windows/release_zip_test.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_CPACK_COMMAND} ${BRVST_WINE} ${BRVST_WINESERVER} ${brvst_zip_name})
  set_tests_properties(release_zip PROPERTIES TIMEOUT 400)
endif()
