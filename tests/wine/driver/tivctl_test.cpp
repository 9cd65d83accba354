// tivctl.exe, the command-line tool's Windows build, under Wine with
// tivlink.dll beside it, against the simulated bus on COM3: the frames it
// sends, what the devices end up with, its progress lines, Ctrl-C in the
// middle of a download, and what only the Linux build runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "frame_check.h"
#include "sim/sim_bus.h"
#include "wine_session.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kPort = 3;

fs::path built_tivctl() { return fs::path(wine_paths().windows_build) / "tools" / "tivctl.exe"; }

// Beside the build's own DLL, staged once for the run.
const std::string& staged_tivctl() {
    static const std::string exe = [] {
        fs::path to = fs::path(stage_hosts("tivctl")) / "tivctl.exe";
        fs::copy_file(built_tivctl(), to);
        return to.string();
    }();
    return exe;
}

std::vector<std::string> lines_of(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> progress_lines(const std::string& output) {
    std::vector<std::string> progress;
    for (const std::string& line : lines_of(output))
        if (line.rfind("download ", 0) == 0) progress.push_back(line);
    return progress;
}

int percent_of(const std::string& line) {
    std::smatch m;
    return std::regex_search(line, m, std::regex(R"((\d+)%)")) ? std::stoi(m[1]) : -1;
}

class TivctlOnWine : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(built_tivctl())) GTEST_SKIP() << "tivctl.exe is not cross-built";
        link_com(kPort, bus.slave_path());
    }
    void TearDown() override { unlink_com(kPort); }

    HostRun tivctl(std::vector<std::string> args, const std::string& interrupt_when = "") {
        args.insert(args.begin(), {"--port", std::to_string(kPort)});
        return run_wine(staged_tivctl(), args, 60s, interrupt_when);
    }

    // Differences from what the library should have sent, one per line.
    std::string mismatches(const std::vector<ExpectedFrame>& want) {
        bus.wait_idle(100ms, 2s);
        std::string report;
        for (const auto& problem : check_frames(bus.frames(), want, &wire_pause_stats())) report += problem + "\n";
        return report;
    }

    tivsim::SimBus bus;
};

TEST_F(TivctlOnWine, SetsAColour) {
    const size_t lamp = bus.devices().add_device(0x123456, 5);
    const size_t neighbour = bus.devices().add_device(0x123457, 5);
    const HostRun run = tivctl({"set-rgbx", "0x123456", "#11223344"});
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string report = mismatches({
        {0x123456, 0x7E, {0x12, 0x01}, 30},
        {0x123456, 0x7E, {0x04, 0x11, 0x22, 0x33, 0x44}, 30},
        {0x123456, 0x7E, {0x00, 0x11, 0x22, 0x33, 0x44}, 30},
    });
    EXPECT_TRUE(report.empty()) << report;
    const tivsim::DeviceState lit = bus.devices().device(lamp);
    EXPECT_EQ(lit.channels, (tivsim::Colour{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(lit.frames_reached, 3u);
    EXPECT_EQ(lit.frames_ignored, 0u);
    EXPECT_EQ(bus.devices().device(neighbour).channels, (tivsim::Colour{}));
}

// Off a console: plain lines at the interval, then the finished one.
TEST_F(TivctlOnWine, DownloadsAnImageWithPlainProgressLines) {
    const size_t device = bus.devices().add_device(0x10000, 1);
    const std::vector<uint8_t> image = {0xCA, 0x42, 0xCB};
    const HostRun run =
        tivctl({"download", "0x10000", write_image("tivctl-three.e2", image, 16), "--interval", "0.1"});
    EXPECT_FALSE(run.timed_out);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;

    const std::vector<std::string> progress = progress_lines(run.output);
    ASSERT_GE(progress.size(), 3u) << run.output;  // about 0.5 s at a line per 0.1 s
    const std::regex shape(R"(download \d+%, \d/3 bytes, \d+:\d\d elapsed, (\d+:\d\d|--:--) left)");
    int previous = -1;
    for (const std::string& line : progress) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        EXPECT_GE(percent_of(line), previous) << line;
        previous = percent_of(line);
    }
    EXPECT_EQ(progress.back().rfind("download 100%, 3/3 bytes, ", 0), 0u) << progress.back();

    std::vector<ExpectedFrame> want = {{0x10000, 0xFD, {0x00}, 130}};
    for (int i = 0; i < 3; i++) want.push_back({0x10000, 0x7F, {0x00, 16 + i, image[i]}, 80});
    want.push_back({0x10000, 0xFE, {}, 130});
    const std::string report = mismatches(want);
    EXPECT_TRUE(report.empty()) << report;
    const tivsim::DeviceState d = bus.devices().device(device);
    EXPECT_EQ(std::vector<uint8_t>(d.eeprom.begin() + 16, d.eeprom.begin() + 19), image);
    EXPECT_FALSE(d.setup_mode);
}

// Ctrl-C clears the run flag; tivctl waits for the worker, which sends its
// closing reset, closes the connection and exits 130 with the threads it
// started with. (Wine counts no handles, so their line reads 0 -> 0 here.)
TEST_F(TivctlOnWine, CtrlCStopsADownloadWithItsReset) {
    const size_t device = bus.devices().add_device(0x10000, 1);
    std::vector<uint8_t> image(100);
    for (size_t i = 0; i < image.size(); i++) image[i] = (uint8_t)(i * 7 + 0xC0);
    const HostRun run = tivctl({"--report-resources", "download", "0x10000",
                                write_image("tivctl-hundred.e2", image, 0x100), "--interval", "0.1"},
                               "bytes, 0:01 elapsed");  // about a second in: a dozen bytes sent
    EXPECT_FALSE(run.timed_out);
    ASSERT_TRUE(run.interrupted) << run.output;
    EXPECT_EQ(run.status, 130) << run.output;

    std::smatch m;
    ASSERT_TRUE(std::regex_search(run.output, m,
                                  std::regex(R"(download stopped at (\d+)% \((\d+) of 100 bytes sent\); 0x010000 got its reset)")))
        << run.output;
    const size_t reported = std::stoul(m[2]);
    ASSERT_TRUE(std::regex_search(run.output, m, std::regex(R"(resources: fds (-?\d+) -> (-?\d+), threads (\d+) -> (\d+))")))
        << run.output;
    EXPECT_EQ(m[1], m[2]) << m[0];
    EXPECT_EQ(m[3], m[4]) << m[0];

    // Begin, the bytes written, the reset; the stop message counts them.
    bus.wait_idle(100ms, 2s);
    const size_t written = bus.frames().size() - 2;
    EXPECT_EQ(written, reported);
    std::vector<ExpectedFrame> want = {{0x10000, 0xFD, {0x00}, 130}};
    for (size_t i = 0; i < written; i++) want.push_back({0x10000, 0x7F, {0x01, (int)i, image[i]}, 80});
    want.push_back({0x10000, 0xFE, {}, 130});
    const std::string report = mismatches(want);
    EXPECT_TRUE(report.empty()) << report;
    const tivsim::DeviceState d = bus.devices().device(device);
    EXPECT_FALSE(d.setup_mode);
    EXPECT_EQ(std::vector<uint8_t>(d.eeprom.begin() + 0x100, d.eeprom.begin() + 0x100 + (long)written),
              std::vector<uint8_t>(image.begin(), image.begin() + (long)written));
}

// The DLL counts no failed frames: the setup sequences' help says what
// tivctl.exe cannot tell.
TEST_F(TivctlOnWine, SetupHelpSaysFailedFramesGoUnseen) {
    for (const char* sub : {"set-serial", "set-group", "firmware-reset"}) {
        const HostRun run = tivctl({sub, "--help"});
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("tivctl.exe cannot tell whether the frames of this sequence went out"),
                  std::string::npos)
            << sub << ":\n" << run.output;
    }
}

// The registry's serial-port map as tivctl.exe reads it. Wine fills it when
// the prefix starts, from the host's serial devices (COM1 for /dev/ttyS0);
// each COM<n> name must carry its number.
TEST_F(TivctlOnWine, ListsTheComPortsAsJson) {
    const HostRun run = tivctl({"ports", "--json"});
    EXPECT_FALSE(run.timed_out);
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<std::string> lines = lines_of(run.output);
    ASSERT_EQ(lines.size(), 1u) << run.output;
    EXPECT_EQ(lines[0].rfind(R"({"ports":[)", 0), 0u) << lines[0];
    const std::regex entry(R"re(\{"device":"COM(\d+)","com":(\d+|null),)re");
    int listed = 0;
    for (std::sregex_iterator it(lines[0].begin(), lines[0].end(), entry), end; it != end; ++it, ++listed) {
        const int n = std::stoi((*it)[1]);
        EXPECT_EQ((*it)[2], n <= 9 ? std::to_string(n) : "null") << (*it)[0];
    }
    EXPECT_GE(listed, 1) << lines[0];
    EXPECT_TRUE(mismatches({}).empty()) << "sent frames";
}

// What needs a pseudo-terminal or the simulated bus is refused in one line,
// with the command-line status, before anything is sent.
TEST_F(TivctlOnWine, RefusesWhatOnlyTheLinuxBuildRuns) {
    const struct {
        std::vector<std::string> args;
        const char* line;
    } cases[] = {
        {{"--sim", "set-rgbx", "5", "1"}, "tivctl: --sim needs the Linux build"},
        {{"--sim-device", "0x010001", "reset", "1"}, "tivctl: --sim needs the Linux build"},
        {{"monitor", "--read", "run.cap"}, "tivctl: monitor needs the Linux build"},
        {{"demo"}, "tivctl: demo needs the Linux build"},
    };
    for (const auto& c : cases) {
        const HostRun run = tivctl(c.args);
        EXPECT_EQ(run.status, 2) << c.line << ":\n" << run.output;
        EXPECT_EQ(lines_of(run.output), std::vector<std::string>{c.line});
    }
    EXPECT_TRUE(mismatches({}).empty()) << "sent frames";
}

}  // namespace
