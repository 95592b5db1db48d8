# What `cmake --install` puts into its prefix: tools.dll and the C++ runtime
# DLLs in bin/, the import library in lib/, the headers in include/tools/,
# the package files that find_package(tools) reads in lib/cmake/tools/, and
# lib/pkgconfig/tools.pc for hosts that pkg-config serves. Nothing else of
# the build is installed.
include(CMakePackageConfigHelpers)
# Lists only the files that an install changes.
set(CMAKE_INSTALL_MESSAGE LAZY)

set(TOOLS_PACKAGE_DIR lib/cmake/tools)
set(TOOLS_BIN_DIR bin)
install(TARGETS tools EXPORT toolsTargets
        RUNTIME DESTINATION ${TOOLS_BIN_DIR}
        ARCHIVE DESTINATION lib)
install(FILES ${TOOLS_RUNTIME_DLLS} DESTINATION ${TOOLS_BIN_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/tools DESTINATION include)
install(EXPORT toolsTargets NAMESPACE tools:: DESTINATION ${TOOLS_PACKAGE_DIR})

string(REPLACE ";" " " TOOLS_RUNTIME_DLL_TEXT "${TOOLS_RUNTIME_DLL_NAMES}")
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/toolsConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/toolsConfig.cmake
  INSTALL_DESTINATION ${TOOLS_PACKAGE_DIR}
  PATH_VARS TOOLS_BIN_DIR)
# 2.x satisfies a request for 2.0; the check of the pointer size keeps an
# i686 host from taking an x86_64 package and the other way round.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/toolsConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/toolsConfig.cmake
              ${CMAKE_BINARY_DIR}/package/toolsConfigVersion.cmake
        DESTINATION ${TOOLS_PACKAGE_DIR})

configure_file(${CMAKE_SOURCE_DIR}/cmake/tools.pc.in ${CMAKE_BINARY_DIR}/package/tools.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/tools.pc DESTINATION lib/pkgconfig)
