# Windows: the 32-bit DLL over the real Win32 services. The module-definition
# file fixes the export table; the C and C++ runtimes of the compiler are
# linked in, so the DLL imports only KERNEL32, USER32 and msvcrt.
add_library(tivlink SHARED $<TARGET_OBJECTS:tivlink_objects>
            ${TIVLINK_DEF_FILE})
set_target_properties(tivlink PROPERTIES PREFIX "" IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
target_link_options(tivlink PRIVATE -static-libgcc -static-libstdc++ -static
                    -Wl,--exclude-all-symbols)
target_link_libraries(tivlink PRIVATE user32 kernel32)
target_include_directories(tivlink INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)

# A version resource for the file's properties; resources add no import.
enable_language(RC)
function(tivlink_version_resource target file type description)
  set(rc_file ${file})
  set(rc_name ${target})
  set(rc_file_type ${type})
  set(rc_description "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()
tivlink_version_resource(tivlink tivlink.dll VFT_DLL "tivlink: serial bus library for colour devices")

# tivctl.exe, on the import library.
if(TIVLINK_TOOLS)
  add_subdirectory(tools)
endif()
