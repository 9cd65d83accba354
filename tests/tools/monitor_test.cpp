// The bus monitor: live on a pty it creates while a host sends, into a
// capture file that reads back to the same frames; malformed bytes flagged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>

#include "tests/support/pty_line.h"
#include "tests/tools/child_process.h"
#include "tests/tools/tool_files.h"

namespace {

using namespace std::chrono_literals;

std::string export_value(const std::string& out, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(name + "=(\\S+)"))) return {};
    return m[1];
}

std::vector<std::string> frame_lines(const std::string& out) {
    std::vector<std::string> frames;
    for (const std::string& line : lines_of(out))
        if (line.find(" ms ") != std::string::npos) frames.push_back(line);
    return frames;
}

TEST(Monitor, LiveFramesAndTheirCaptureReadBackAlike) {
    ScratchFile capture("capture.txt");
    Child monitor({kTivctl, "--port", "4", "monitor", "--pty", "--capture", capture.path, "--frames", "4"});
    ASSERT_TRUE(monitor.wait_for("\n", 10s)) << monitor.err();
    const std::string com4 = export_value(monitor.out(), "TIVLINK_COM4");
    ASSERT_FALSE(com4.empty()) << monitor.out();

    // A host in another process: three LIGHT frames, then a program byte
    // that goes on the wire escaped (CB 01).
    const Env host = {{"TIVLINK_COM4", com4}};
    ASSERT_EQ(run_to_end({kTivctl, "--port", "4", "set-rgbx", "0x010001", "#11223344"}, host).status, 0);
    ASSERT_EQ(run_to_end({kTivctl, "--port", "4", "prog", "0x010001", "1"}, host).status, 0);
    ASSERT_EQ(monitor.wait(10s), 0) << monitor.out() << monitor.err();

    const std::vector<std::string> live = frame_lines(monitor.out());
    ASSERT_EQ(live.size(), 4u) << monitor.out();
    EXPECT_NE(live[0].find("0x010001  len 2    LIGHT (7E)  12 01  crc "), std::string::npos) << live[0];
    EXPECT_NE(live[2].find("LIGHT (7E)  00 11 22 33 44"), std::string::npos) << live[2];
    EXPECT_TRUE(std::regex_search(live[3], std::regex(R"(len 3    XD_PROG \(7D\)  15 00 CB  crc [0-9A-F]{4} ok  esc [12])")))
        << live[3];
    EXPECT_NE(monitor.out().find("monitor: 4 frames (4 ok, 0 bad crc, 0 malformed), 0 noise bytes"),
              std::string::npos)
        << monitor.out();

    const Finished replay = run_to_end({kTivctl, "monitor", "--read", capture.path});
    ASSERT_EQ(replay.status, 0) << replay.err;
    EXPECT_EQ(frame_lines(replay.out), live);
    EXPECT_NE(replay.out.find("monitor: 4 frames (4 ok"), std::string::npos) << replay.out;
}

TEST(Monitor, FlagsMalformedBytesInACapture) {
    ScratchFile capture("malformed.txt");
    capture.write(
        "tivsim-capture 1\n"
        "# a good reset, one with a broken CRC, stray bytes, a bad escape, a cut frame\n"
        "0 rx CA 00 00 01 00 00 FE 70 F1\n"
        "1000000 rx CA 00 00 01 00 00 FE 70 F2\n"
        "2000000 rx 55 66\n"
        "90000000 rx CA 00 00 01 00 01 7E CB 07 00\n"
        "95000000 rx CA 00 00 01 00 03 7D 15\n"
        "96000000 tx 11 22\n");
    const Finished r = run_to_end({kTivctl, "monitor", "--read", capture.path});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = frame_lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;  // the tx bytes are the bus's, not the host's
    EXPECT_NE(lines[0].find("RESET (FE)  crc 70F1 ok"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("crc 70F2 BAD (want 70F1)"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("noise 2 bytes: 55 66"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("MALFORMED bad_escape"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("noise 1 byte: 00"), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find("MALFORMED truncated"), std::string::npos) << lines[5];
    EXPECT_NE(lines[1].find("1.000 ms"), std::string::npos) << "times come from the capture: " << lines[1];
    EXPECT_NE(r.out.find("monitor: 4 frames (1 ok, 1 bad crc, 2 malformed), 3 noise bytes"), std::string::npos)
        << r.out;
}

TEST(Monitor, RefusesAFileThatIsNotACapture) {
    ScratchFile bogus("bogus.txt");
    bogus.write("tivsim-capture 1\n0 rx CA ZZ\n");
    const Finished r = run_to_end({kTivctl, "monitor", "--read", bogus.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(bogus.path + ":2: bad record"), std::string::npos) << r.err;
    EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
}

struct ReadCase {
    const char* name;
    std::string path;     // read this; empty: the scratch file with `content`
    std::string content;
    int status;
    const char* shown;  // in stdout (status 0) or stderr
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class MonitorReads : public testing::TestWithParam<ReadCase> {};

// Whatever it is given, --read answers soon and in bounded memory.
TEST_P(MonitorReads, AnyInputQuickly) {
    const ReadCase& c = GetParam();
    ScratchFile file("read.txt");
    file.write(c.content);
    const Finished r = run_to_end({kTivctl, "monitor", "--read", c.path.empty() ? file.path : c.path}, {}, 10s);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE((c.status ? r.err : r.out).find(c.shown), std::string::npos) << r.out << r.err;
}

const std::string kReset = "CA 00 00 01 00 00 FE 70 F1";

std::string many_bytes_record(size_t n) {
    std::string line = "0 rx";
    for (size_t i = 0; i < n; i++) line += " 00";
    return line + "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MonitorReads,
    testing::Values(ReadCase{"endless_zeros", "/dev/zero", "", 1, "/dev/zero:1: not a capture file"},
                    ReadCase{"overlong_record", "", "tivsim-capture 1\n" + many_bytes_record(30000), 1,
                             ":2: line longer than 65536 characters"},
                    ReadCase{"crlf_line_ends", "",
                             "tivsim-capture 1\r\n# from a Windows editor\r\n0 rx " + kReset + "\r\n",
                             0, "monitor: 1 frame (1 ok, 0 bad crc, 0 malformed), 0 noise bytes, 9 bytes"}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

// A serial device, stood in for by a pty whose master plays the bus.
TEST(Monitor, ListensOnASerialDevice) {
    PtyLine line{0, true};  // raw: no line editing or echo before the monitor sets its own
    // Three frames wait on the line; the monitor stops after two.
    const std::string reset("\xCA\x00\x00\x01\x00\x00\xFE\x70\xF1", 9);
    for (int i = 0; i < 3; i++) line.write(reset.data(), reset.size());
    Child monitor({kTivctl, "--baud", "19200", "monitor", "--device", line.slave_path, "--frames", "2"});
    const int status = monitor.wait(10s);
    const Finished r{status, monitor.out(), monitor.err()};
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = frame_lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    for (const std::string& line : lines)
        EXPECT_NE(line.find("0x000001  len 0    RESET (FE)  crc 70F1 ok"), std::string::npos) << line;
    EXPECT_NE(r.out.find("monitor: 2 frames (2 ok"), std::string::npos) << r.out;

    const Finished odd = run_to_end({kTivctl, "--baud", "14400", "monitor", "--device", line.slave_path});
    EXPECT_EQ(odd.status, 1);
    EXPECT_NE(odd.err.find("baud rate 14400 has no Linux line speed"), std::string::npos) << odd.err;
    const Finished missing = run_to_end({kTivctl, "monitor", "--device", "/nonexistent/tty"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open /nonexistent/tty"), std::string::npos) << missing.err;
}

TEST(Monitor, CtrlCEndsListeningWithTheSummaryAndStatus130) {
    Child monitor({kTivctl, "monitor", "--pty"}, {{}, true});
    ASSERT_TRUE(monitor.wait_for("TIVLINK_COM1=", 10s)) << monitor.out();
    monitor.send("\x03");
    EXPECT_EQ(monitor.wait(10s), 130) << monitor.out();
    EXPECT_NE(monitor.out().find("monitor: 0 frames"), std::string::npos) << monitor.out();
}

}  // namespace
