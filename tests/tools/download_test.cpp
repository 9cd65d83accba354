// tivctl download as a user runs it: the progress display on a terminal and
// off it, Ctrl-C in the middle, and a line that fails under the download.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include "tests/support/pty_line.h"
#include "tests/tools/child_process.h"
#include "tests/tools/tool_files.h"

namespace {

using namespace std::chrono_literals;

int percent_of(const std::string& line) {
    std::smatch m;
    return std::regex_search(line, m, std::regex(R"((\d+)%)")) ? std::stoi(m[1]) : -1;
}

TEST(DownloadProgress, OffATerminalPrintsPlainLinesThatOnlyGrow) {
    ScratchFile image("image.bin");
    write_image(image, 20);  // about 1.6 s at 80 ms per byte
    const Finished r = run_to_end({kTivctl, "--sim", "download", "0x010001", image.path, "--interval", "0.2"},
                                  {{"TIVLINK_COM1", ""}});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    std::vector<std::string> progress;
    for (const std::string& line : lines_of(r.out))
        if (line.rfind("download ", 0) == 0) progress.push_back(line);
    ASSERT_GE(progress.size(), 5u) << r.out;  // one every 0.2 s, and the last
    const std::regex shape(R"(download \d+%, \d+/20 bytes, \d+:\d\d elapsed, (\d+:\d\d|--:--) left)");
    int previous = -1;
    for (const std::string& line : progress) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        EXPECT_GE(percent_of(line), previous) << line;
        previous = percent_of(line);
    }
    EXPECT_EQ(progress.back().rfind("download 100%, 20/20 bytes", 0), 0u) << progress.back();
}

// Images may cover the bytes the setup sequences own: downloaded anyway,
// with a warning for each.
TEST(DownloadWarning, NamesEachOwnedByteTheImageCovers) {
    const struct {
        uint32_t start, size;
        std::vector<std::string> bytes;
    } cases[] = {{16, 3, {"18"}}, {19, 2, {}}, {190, 9, {"198"}}};
    for (const auto& c : cases) {
        ScratchFile image("owned.bin");
        write_image(image, c.size, c.start);
        const Finished r = run_to_end({kTivctl, "--sim", "download", "0x010001", image.path, "--interval", "9"},
                                      {{"TIVLINK_COM1", ""}}, 60s);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> warned;
        for (const std::string& line : lines_of(r.err)) {
            std::smatch m;
            if (std::regex_search(line, m, std::regex(R"(^tivctl: warning: the image covers EEPROM byte (\d+),)")))
                warned.push_back(m[1]);
        }
        EXPECT_EQ(warned, c.bytes) << c.start << "+" << c.size << ":\n" << r.err;
    }
}

TEST(DownloadProgress, OnATerminalRedrawsOneBarInPlace) {
    ScratchFile image("image.bin");
    write_image(image, 10);
    Child child({kTivctl, "--sim", "download", "0x010001", image.path},
                {{{"TIVLINK_COM1", ""}, {"TERM", "xterm"}}, true, 30, 90});
    ASSERT_EQ(child.wait(20s), 0) << child.out();
    const std::string& out = child.out();
    // Redrawn in place: several carriage returns, each bar cleared to the end.
    const auto redraws = std::count(out.begin(), out.end(), '\r') - std::count(out.begin(), out.end(), '\n');
    EXPECT_GE(redraws, 3) << out;
    EXPECT_NE(out.find("\x1b[K"), std::string::npos);
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\[#+\]  100%  10/10 bytes)"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\[#*-+\] +\d+%  \d/10 bytes)"))) << out;
    // Every redraw of the bar fits the 90 columns of the terminal.
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find_first_of("\r\n", at);
        if (end == std::string::npos) end = out.size();
        std::string shown = out.substr(at, end - at);
        for (size_t k; (k = shown.find("\x1b[K")) != std::string::npos;) shown.erase(k, 3);
        if (shown.find("/10 bytes") != std::string::npos) {
            EXPECT_LT(shown.size(), 90u) << shown;
        }
        at = end + 1;
    }
}

// Ctrl-C on the terminal: tivctl clears the run flag, waits for the worker,
// which sends its closing reset, closes the connection and exits 130, and
// the process holds no more threads or descriptors than before it opened
// the port.
TEST(DownloadStop, CtrlCSendsTheResetAndLeaksNothing) {
    ScratchFile image("image.bin");
    write_image(image, 100);  // 8 s if nobody stops it
    Child child({kTivctl, "--sim", "--report-resources", "download", "0x010001", image.path},
                {{{"TIVLINK_COM1", ""}, {"TERM", "xterm"}}, true, 30, 100});
    ASSERT_TRUE(child.wait_for("/100 bytes", 10s)) << child.out();
    ASSERT_TRUE(child.wait_for(" 3/100 bytes", 10s)) << child.out();
    child.send("\x03");  // the terminal turns it into SIGINT
    ASSERT_EQ(child.wait(10s), 130) << child.out();
    const std::string& out = child.out();

    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(download stopped at (\d+)% \((\d+) of 100 bytes sent\))")))
        << out;
    const size_t said_sent = std::stoul(m[2]);
    EXPECT_NE(out.find("0x010001 got its reset"), std::string::npos) << out;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(resources: fds (\d+) -> (\d+), threads (\d+) -> (\d+))")));
    EXPECT_EQ(m[1], m[2]) << m[0];
    EXPECT_EQ(m[3], m[4]) << m[0];

    // The bus saw: begin, some image bytes, then the reset, which took the
    // device out of setup mode.
    std::vector<std::string> frames;
    for (const std::string& line : lines_of(out))
        if (line.find(" ok") != std::string::npos && line.find("0x010001  len") != std::string::npos)
            frames.push_back(line);
    ASSERT_GE(frames.size(), 5u) << out;
    EXPECT_NE(frames.front().find("SETUP_BEGIN"), std::string::npos);
    EXPECT_NE(frames.back().find("RESET (FE)"), std::string::npos) << frames.back();
    EXPECT_EQ(frames.size(), said_sent + 2) << "the stop message says what went out";
    for (size_t i = 1; i + 1 < frames.size(); i++) EXPECT_NE(frames[i].find("IMAGE_WRITE"), std::string::npos);
    EXPECT_TRUE(std::regex_search(out, std::regex(R"(\* 0x010001 .* no +- )"))) << "still in setup mode:\n" << out;
}

// A line that goes away under the download: every later frame fails, the
// worker says so in its exit code, and tivctl exits 1 after waiting for it.
TEST(DownloadStop, FailedFramesExitNonZero) {
    PtyLine line;
    ScratchFile image("image.bin");
    write_image(image, 30);

    Child child({kTivctl, "--device", line.slave_path, "download", "0x010001", image.path, "--interval", "0.1"});
    ASSERT_TRUE(child.wait_for("download 0%", 10s)) << child.out() << child.err();
    line.close_master();  // the line is gone: writes to it fail
    EXPECT_EQ(child.wait(60s), 1) << child.out() << child.err();
    EXPECT_NE(child.err().find("Write Error"), std::string::npos) << child.err();
    EXPECT_NE(child.err().find("tivctl: download to 0x010001: some frames were not written whole"), std::string::npos)
        << child.err();
    // The last progress line is the last percentage seen, not the worker's reset to 0.
    const auto lines = lines_of(child.out());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().find("download 0%"), std::string::npos) << child.out();
}

}  // namespace
