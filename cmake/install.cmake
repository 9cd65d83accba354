# Installs the library where hosts look for it: header, library, pkg-config
# file and CMake package, and the tools with their manual pages and
# completion. CPack turns the install into Debian packages split the way
# Debian ships a library (cmake/debian.cmake), or a zip (Windows). Install
# components: lib (the runtime), dev, tools, and python (the binding).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(tivlink INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS tivlink EXPORT tivlinkTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/tivlink.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tivlink)
install(EXPORT tivlinkTargets NAMESPACE tivlink:: DESTINATION ${cmake_dir} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/templates/tivlinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tivlinkConfig.cmake INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tivlinkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tivlinkConfig.cmake
              ${PROJECT_BINARY_DIR}/tivlinkConfigVersion.cmake DESTINATION ${cmake_dir} COMPONENT dev)

if(NOT WIN32)
  # Relative to the .pc file, so an install moved to another prefix still works.
  file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  set(PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/tivlink.pc.in
                 ${PROJECT_BINARY_DIR}/tivlink.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/tivlink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endif()

# The tools, finding the library next to them once installed; a system
# library folder needs no search path of their own.
list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES ${CMAKE_INSTALL_FULL_LIBDIR} system_libdir)
foreach(tool tivctl tivsim tivgate)
  if(TARGET ${tool})
    if(system_libdir LESS 0)
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
    # tivgate brings OLA's libraries along: a package of its own.
    set(component tools)
    if(tool STREQUAL tivgate)
      set(component gateway)
    endif()
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endforeach()
if(TARGET tivctl AND NOT WIN32)
  include(cmake/manpages.cmake)
  tivlink_man_page(tivctl 1)
  tivlink_man_page(tivsim 1)
  install(FILES ${PROJECT_SOURCE_DIR}/scripts/completion/tivctl.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tivctl COMPONENT tools)
endif()

set(CPACK_PACKAGE_NAME tivlink)
set(CPACK_PACKAGE_VENDOR "tivlink developers")
set(CPACK_PACKAGE_CONTACT "tivlink developers <dev@tivlink.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT lib)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tivlink-${PROJECT_VERSION}-win32)
else()
  include(cmake/debian.cmake)
endif()
include(CPack)
