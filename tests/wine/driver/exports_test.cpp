// The DLL's tables: what a host finds when it loads the DLL by name, and
// what the export check says of the built DLL and of broken copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "wine_session.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kExports = {
    "_download",       "_e2_adr",     "_e2_cmd",        "_e2_data",   "_e2_len",
    "_e2_percent",     "_exit_tiv3",  "_fade_rgbx",     "_firmware_reset", "_init_tiv3",
    "_load_e2_file",   "_set_group",  "_set_rgbx",      "_set_serial", "_tiv_frame_send",
    "_xd_prog",        "_xd_reset",
};

std::string broken_dll(const std::string& name) {
    return wine_paths().windows_build + "/tests/wine/" + name + ".dll";
}

std::vector<std::string> listed_exports(const std::string& output) {
    std::vector<std::string> names;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("export ", 0) == 0) names.push_back(line.substr(7));
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WineExports, LoadedByNameTheDllHasExactlyTheLibrarysExports) {
    HostRun run = run_wine(staged_exe("wine_host_by_name"), {"exports"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(listed_exports(run.output), kExports);
}

TEST(WineExports, AHostRefusesADllLackingAnExport) {
    std::string dir = stage_hosts("lacking", broken_dll("tivlink_lacking_export"));
    HostRun run = run_wine(dir + "/wine_host_by_name.exe", {"exports"});
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_NE(run.output.find("missing export _xd_prog"), std::string::npos) << run.output;
}

// The PE machine field of a copy, set to x86-64.
void make_64_bit(const fs::path& dll) {
    std::fstream file(dll, std::ios::in | std::ios::out | std::ios::binary);
    uint32_t pe_offset = 0;
    file.seekg(0x3C);
    file.read(reinterpret_cast<char*>(&pe_offset), sizeof pe_offset);
    const char amd64[2] = {0x64, (char)0x86};
    file.seekp(pe_offset + 4);
    file.write(amd64, sizeof amd64);
}

TEST(CheckExports, PassesTheBuiltDllAndFailsBrokenOnes) {
    struct Case {
        const char* what;
        std::string dll;
        bool make_64_bit;
        int status;
        const char* says;
    };
    const std::string built = wine_paths().windows_build + "/tivlink.dll";
    const Case cases[] = {
        {"the built DLL", built, false, 0, "tivlink.dll 17 names as listed"},
        {"a lacking export", broken_dll("tivlink_lacking_export"), false, 1, "tivlink.dll exports differ"},
        {"an extra import", broken_dll("tivlink_extra_import"), false, 1, "imports more than it may: ADVAPI32"},
        {"a 64-bit machine", built, true, 1, "tivlink.dll"},
    };
    for (const auto& c : cases) {
        fs::path dir = fs::path(wine_paths().work) / "check-exports";
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(c.dll, dir / "tivlink.dll");
        fs::copy_file(wine_paths().windows_build + "/exports-windows.txt", dir / "exports-windows.txt");
        if (c.make_64_bit) make_64_bit(dir / "tivlink.dll");
        std::string output;
        int status = run_shell("bash '" + wine_paths().source_dir + "/scripts/check-exports.sh' '" +
                                   wine_paths().linux_build + "' '" + dir.string() + "'",
                               output);
        EXPECT_EQ(status, c.status) << c.what << ":\n" << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << c.what << ":\n" << output;
    }
}

}  // namespace
