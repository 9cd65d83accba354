# The header's version macros are what hosts compile against; the build stops
# when they disagree with the project's version, so the two cannot drift.
file(READ ${PROJECT_SOURCE_DIR}/include/tivlink.h tivlink_header)
foreach(part MAJOR MINOR PATCH)
  string(REGEX MATCH "#define TIVLINK_VERSION_${part} ([0-9]+)" _ "${tivlink_header}")
  set(header_${part} "${CMAKE_MATCH_1}")
endforeach()
string(REGEX MATCH "#define TIVLINK_VERSION_STRING \"([^\"]*)\"" _ "${tivlink_header}")
set(header_version "${header_MAJOR}.${header_MINOR}.${header_PATCH}")
if(NOT header_version STREQUAL PROJECT_VERSION OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "include/tivlink.h says version ${header_version} (string \"${CMAKE_MATCH_1}\"), "
                      "the project ${PROJECT_VERSION}: change both together")
endif()
