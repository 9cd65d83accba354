# The Debian packages, split the way Debian ships a library:
#   libtivlink1      the runtime library, with an ldconfig trigger
#   libtivlink-dev   header, .so link, pkg-config file, CMake package
#   tivlink-tools    tivctl, tivsim, their manual pages, bash completion
#   python3-tivlink  the Python binding
#   tivgate          the DMX gateway with its unit and manual page, apart from
#                    tivlink-tools since it brings OLA's libraries along
# Build them from a tree configured with CMAKE_INSTALL_PREFIX=/usr, so the
# library lands in the multiarch folder (scripts/build-debs.sh).
# The packaging lives in the source tree, so the packages are native: their
# version is the project's, without a Debian revision.
set(deb_version ${PROJECT_VERSION})
set(CPACK_DEB_COMPONENT_INSTALL ON)
# CPack puts any other summary in front of each component's description;
# left at its default, the first line of each description is the synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# dpkg-shlibdeps finds libtivlink.so.1 in the build tree, not installed yet.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# A cross build's libraries are in the root scripts/arm-deps.sh made, whose
# own package database says which package each comes from.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSROOT)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
       ${CMAKE_SYSROOT}/usr/lib/${TIVLINK_CROSS_TRIPLET} ${CMAKE_SYSROOT}/lib/${TIVLINK_CROSS_TRIPLET})
  set(shlibdeps_config ${PROJECT_BINARY_DIR}/cpack-shlibdeps.cmake)
  file(WRITE ${shlibdeps_config}
       "set(SHLIBDEPS_EXECUTABLE dpkg-shlibdeps --admindir=${CMAKE_SYSROOT}/var/lib/dpkg)\n")
  set(CPACK_PROJECT_CONFIG_FILE ${shlibdeps_config})
endif()

# Also the name dpkg-shlibdeps gives the library the tools need.
set(CPACK_DEBIAN_PACKAGE_NAME libtivlink1)
set(CPACK_DEBIAN_LIB_PACKAGE_NAME libtivlink1)
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# ldconfig runs from dpkg's trigger; build-debs.sh drops the maintainer
# scripts CPack writes to call it.
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/templates/debian/triggers)
set(CPACK_COMPONENT_LIB_DESCRIPTION "${PROJECT_DESCRIPTION}
tivlink drives a serial bus of addressable four-channel colour devices:
it opens a serial port, sets and fades colours, resets devices, sends
program commands and raw frames, gives devices addresses and groups, and
downloads EEPROM images on a background thread.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtivlink-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libtivlink1 (= ${deb_version})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "development files for the tivlink serial bus library
tivlink drives a serial bus of addressable four-channel colour devices.
.
This package holds the C header, the link to the shared library, the
pkg-config file and the CMake package for building hosts.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tivlink-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libtivlink1 (= ${deb_version})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "command-line tools for buses of colour devices
tivctl runs each operation of the tivlink library from the command line
(colours, fades, resets, programs, addresses, groups, EEPROM downloads),
lists the serial ports, decodes the traffic on a line and runs a demo on
a simulated bus. tivsim is that simulated bus as a program of its own, on
a pseudo-terminal that any host can open.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tivlink)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, libtivlink1 (>= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "Python binding of the tivlink serial bus library
tivlink drives a serial bus of addressable four-channel colour devices.
.
This package lets Python 3 programs call the library through ctypes.")

set(CPACK_DEBIAN_GATEWAY_PACKAGE_NAME tivgate)
set(CPACK_DEBIAN_GATEWAY_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_GATEWAY_PACKAGE_DEPENDS "libtivlink1 (= ${deb_version})")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_RECOMMENDS "ola")
set(CPACK_COMPONENT_GATEWAY_DESCRIPTION "DMX gateway from OLA onto a bus of colour devices
tivgate takes DMX universes from the OLA daemon and drives the devices of a
tivlink bus from them, after a patch that maps channels to devices and
groups. It comes with a systemd unit.")

# Every package carries the licence and a Debian changelog.
string(TIMESTAMP deb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(deb_doc ${PROJECT_BINARY_DIR}/debian-doc)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" licence "${licence}")
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" licence " ${licence}")
get_cmake_property(deb_components COMPONENTS)
foreach(component lib dev tools python gateway)
  if(NOT component IN_LIST deb_components)
    continue()
  endif()
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/debian/copyright.in ${deb_doc}/${package}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/debian/changelog.in ${deb_doc}/${package}/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${deb_doc}/${package}/changelog RESULT_VARIABLE gzipped)
  if(NOT gzipped EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${deb_doc}/${package}/changelog")
  endif()
  install(FILES ${deb_doc}/${package}/copyright ${deb_doc}/${package}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  list(APPEND CPACK_COMPONENTS_ALL ${component})
endforeach()
set(CPACK_GENERATOR DEB)
