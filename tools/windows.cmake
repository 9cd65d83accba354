# tivctl.exe: the bus sub-commands of tivctl on the import library of
# tivlink.dll. The monitor, the demo and --sim need POSIX ttys and the
# simulated bus and are left out (tivctl/modes_win32.cpp refuses them); of
# the sim only the wire-protocol tables come along, which are plain C++.

# CLI11 is header-only. The cross compiler sees its CLI/ folder alone, never
# the rest of the host's include folder.
find_path(TIVLINK_CLI11_INCLUDE_DIR CLI/CLI.hpp PATHS /usr/include /usr/local/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH DOC "folder holding CLI/CLI.hpp")
if(NOT TIVLINK_CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "tivctl.exe needs the CLI11 headers (CLI/CLI.hpp); set TIVLINK_CLI11_INCLUDE_DIR")
endif()
set(cli11_only ${CMAKE_CURRENT_BINARY_DIR}/cli11)
file(MAKE_DIRECTORY ${cli11_only})
file(CREATE_LINK ${TIVLINK_CLI11_INCLUDE_DIR}/CLI ${cli11_only}/CLI SYMBOLIC)

add_library(tivtools_common STATIC
  common/control_command.cpp
  common/frame_fit.cpp
  common/frame_text.cpp
  common/number_parse.cpp
  common/progress.cpp
  common/sim_device_layout.cpp
  common/stop_signal_win32.cpp
  common/terminal.cpp
  common/terminal_win32.cpp
  ${PROJECT_SOURCE_DIR}/sim/crc16_modbus.cpp
  ${PROJECT_SOURCE_DIR}/sim/frame_decoder.cpp
  ${PROJECT_SOURCE_DIR}/sim/protocol.cpp)
target_include_directories(tivtools_common PUBLIC ${PROJECT_SOURCE_DIR})
tivlink_warnings(tivtools_common)

add_executable(tivctl
  tivctl/bus_command.cpp
  tivctl/cli.cpp
  tivctl/download_command.cpp
  tivctl/failed_frames_win32.cpp
  tivctl/main.cpp
  tivctl/modes_win32.cpp
  tivctl/operations.cpp
  tivctl/port_list_win32.cpp
  tivctl/ports_command.cpp
  tivctl/progress_display.cpp
  tivctl/resources_win32.cpp
  tivctl/worker_join_win32.cpp)
target_include_directories(tivctl SYSTEM PRIVATE ${cli11_only})
# The serial-port map and the friendly names (`tivctl ports`); the DLL
# itself stays on KERNEL32, USER32 and msvcrt.
target_link_libraries(tivctl PRIVATE tivlink tivtools_common advapi32 setupapi)
tivlink_version_resource(tivctl tivctl.exe VFT_APP "tivctl: drive a bus of colour devices")
# Only system DLLs and tivlink.dll at run time.
target_link_options(tivctl PRIVATE -static-libgcc -static-libstdc++ -static)
tivlink_warnings(tivctl)
