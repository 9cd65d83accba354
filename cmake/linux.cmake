# Linux: the library over our POSIX stand-in for the Win32 services.
add_subdirectory(platform)
find_package(Threads REQUIRED)
target_link_libraries(tivlink_objects PUBLIC Threads::Threads)

# Shared library: exports the underscore names and nothing else.
add_library(tivlink SHARED $<TARGET_OBJECTS:tivlink_objects>)
target_link_libraries(tivlink PRIVATE Threads::Threads)
target_link_options(tivlink PRIVATE
  -Wl,--version-script=${TIVLINK_MAP_FILE}
  -Wl,--no-undefined -Wl,--exclude-libs,ALL)
set_target_properties(tivlink PROPERTIES
  LINK_DEPENDS ${TIVLINK_MAP_FILE}
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(tivlink INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)

# Static library for the tests, which reach internals and the test seam.
add_library(tivlink_static STATIC $<TARGET_OBJECTS:tivlink_objects>)
target_link_libraries(tivlink_static PUBLIC Threads::Threads)
target_include_directories(tivlink_static PUBLIC ${PROJECT_SOURCE_DIR}
                                                 ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(tivlink_static PUBLIC TIVLINK_BUILD)

# The simulated bus, for tests, tools and benchmarks.
add_subdirectory(sim)

if(TIVLINK_TOOLS)
  add_subdirectory(tools)
endif()

if(TIVLINK_TESTS OR TIVLINK_BENCH)
  add_subdirectory(tests/support)
endif()

if(TIVLINK_BENCH)
  add_subdirectory(bench)
endif()
