// Runs the Windows hosts under Wine: one throw-away prefix per test run, a
// persistent wineserver for its length, COM ports linked to the simulated
// bus's pseudo-terminals, and every host process bounded in time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct WinePaths {
    std::string source_dir;     // the project, for scripts/
    std::string linux_build;    // for the export check's Linux half
    std::string windows_build;  // tivlink.dll and tests/wine/*.exe
    std::string prefix;         // WINEPREFIX
    std::string work;           // staging folders and image files
};

// From TIVLINK_WINDOWS_BUILD, TIVLINK_LINUX_BUILD and TIVLINK_WINE_PREFIX,
// else the presets' folders.
const WinePaths& wine_paths();

// Creates the prefix if it is missing and keeps one wineserver up until
// wine_stop(). Both bounded; false with a reason when Wine is unusable.
bool wine_start(std::string& reason);
void wine_stop();

struct HostRun {
    int status = -1;  // exit status; -1 when killed or not started
    bool timed_out = false;
    bool interrupted = false;  // Ctrl-C was sent
    std::string output;  // stdout and stderr
    std::chrono::milliseconds elapsed{0};
};

// Runs `wine exe args...` in `dir`, killed after `timeout`. With
// `interrupt_when`, it gets Ctrl-C once its output holds that text: SIGINT,
// which Wine hands to the program's console control handlers.
HostRun run_wine(const std::string& exe, const std::vector<std::string>& args,
                 std::chrono::seconds timeout = std::chrono::seconds(60),
                 const std::string& interrupt_when = "");

// A folder holding the hosts and examples beside a tivlink.dll, which is the
// build's own unless `dll` names another file; the loader finds it there
// first. Returns the folder.
std::string stage_hosts(const std::string& name, const std::string& dll = "");

// A host or example staged with the build's own DLL by the environment.
std::string staged_exe(const std::string& name);

// An image file in the work folder (image bytes, then the start address
// big-endian); its Windows path.
std::string write_image(const std::string& name, const std::vector<uint8_t>& bytes, uint32_t start);

// Points COM<n> of the prefix at a device path, or removes it.
void link_com(int n, const std::string& device);
void unlink_com(int n);

// The Windows name of a Linux path (Wine's drive Z: is the root).
std::string windows_path(const std::string& path);

// Value of "key value..." on the first output line starting with key.
std::string output_value(const std::string& output, const std::string& key);

// Runs a shell command line; its exit status, output appended to `output`.
int run_shell(const std::string& command, std::string& output);
