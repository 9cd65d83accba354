# Installs the library where hosts look for it: header, library, pkg-config
# file and CMake package; CPack turns the install into a .deb (Linux) or a
# zip (Windows).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(tivlink INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS tivlink EXPORT tivlinkTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/tivlink.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tivlink)
install(EXPORT tivlinkTargets NAMESPACE tivlink:: DESTINATION ${cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/templates/tivlinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tivlinkConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tivlinkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tivlinkConfig.cmake
              ${PROJECT_BINARY_DIR}/tivlinkConfigVersion.cmake DESTINATION ${cmake_dir})

if(NOT WIN32)
  # Relative to the .pc file, so an install moved to another prefix still works.
  file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  set(PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/tivlink.pc.in
                 ${PROJECT_BINARY_DIR}/tivlink.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/tivlink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

# The tools, finding the library next to them once installed.
foreach(tool tivctl tivsim tivgate)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(CPACK_PACKAGE_NAME tivlink)
set(CPACK_PACKAGE_VENDOR "tivlink developers")
set(CPACK_PACKAGE_CONTACT "tivlink developers <dev@tivlink.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tivlink-${PROJECT_VERSION}-win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
