// The exported operations without a connection, and the fatal stops a host
// can provoke: no bus is needed to see either.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sim/frame_decoder.h"
#include "tests/support/pty_line.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/syscall_swap.h"
#include "serial/serial.h"
#include "tivlink.h"
#include "tivlink/random.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class Offline : public testing::Test {
  protected:
    std::vector<std::string> boxes() const { return capture.texts(); }
    int beeps() const { return capture.beeps(); }
    StderrCapture capture;
};

struct OfflineRow {
    const char* name;
    std::function<int32_t()> call;
    int32_t result;
    int frames;  // one beep per frame
};

class OfflineSend : public Offline, public testing::WithParamInterface<OfflineRow> {};

TEST_P(OfflineSend, EachFrameBeepsCountsAsFailedAndNoBoxShows) {
    const OfflineRow& row = GetParam();
    uint32_t failed_before = tiv_failed_frames();
    EXPECT_EQ(row.call(), row.result);
    EXPECT_EQ(beeps(), row.frames);
    EXPECT_EQ(tiv_failed_frames() - failed_before, (uint32_t)row.frames);
    EXPECT_TRUE(boxes().empty());
}

const uint8_t payload[3] = {1, 2, 3};

INSTANTIATE_TEST_SUITE_P(
    Operations, OfflineSend,
    testing::Values(
        OfflineRow{"frame_send", [] { return tiv_frame_send(0x10000, 0x7E, payload, 3); }, -1, 1},
        OfflineRow{"set_rgbx", [] { return set_rgbx(5, 0x11223344); }, -1, 3},
        OfflineRow{"fade_rgbx", [] { return fade_rgbx(5, 0x11223344, 9); }, -1, 3},
        OfflineRow{"xd_reset", [] { return xd_reset(5); }, -1, 1},
        OfflineRow{"xd_prog", [] { return xd_prog(5, 9); }, -1, 1},
        OfflineRow{"set_serial", [] { return set_serial(5, 0x123456); }, 0x123456, 6},
        OfflineRow{"set_group", [] { return set_group(5, 7); }, 0, 3},
        OfflineRow{"firmware_reset", [] { return firmware_reset(5); }, 0, 3}),
    [](const testing::TestParamInfo<OfflineRow>& info) { return std::string(info.param.name); });

TEST_F(Offline, SetupSequencesKeepTheirPausesWithoutConnection) {
    auto start = Clock::now();
    set_serial(5, 0x10000);
    EXPECT_GE(Clock::now() - start, 500ms);  // 200 + 4 x 50 + 100
    start = Clock::now();
    set_group(5, 1);
    EXPECT_GE(Clock::now() - start, 250ms);
}

// Two devices numbered one after another must never share an address, nor
// two tivctl processes started in the same second.
TEST_F(Offline, GeneratedAddressesNeverRepeatInAProcessAndDifferAcrossProcesses) {
    int32_t first = set_serial(5, 0);
    EXPECT_NE(set_serial(5, 0), first);
    std::set<int32_t> seen{first};
    for (int i = 0; i < 100; i++) {
        int32_t address = tiv_generate_physical_address();
        EXPECT_GE(address, 0x10000);
        EXPECT_LE(address, 0x7FFFFF);
        EXPECT_TRUE(seen.insert(address).second) << std::hex << address;
    }
    std::set<int32_t> across;
    for (int child = 0; child < 6; child++) {
        int link[2];
        ASSERT_EQ(pipe(link), 0);
        pid_t pid = fork();
        if (pid == 0) {
            int32_t drawn = tiv_generate_physical_address();
            _exit(write(link[1], &drawn, sizeof drawn) == sizeof drawn ? 0 : 1);
        }
        close(link[1]);
        int32_t drawn = 0;
        EXPECT_EQ(read(link[0], &drawn, sizeof drawn), (ssize_t)sizeof drawn);
        close(link[0]);
        waitpid(pid, nullptr, 0);
        across.insert(drawn);
    }
    EXPECT_EQ(across.size(), 6u);
}

TEST_F(Offline, ExitWithoutConnectionStillPauses) {
    auto start = Clock::now();
    exit_tiv3();
    EXPECT_GE(Clock::now() - start, 500ms);
    EXPECT_LT(Clock::now() - start, 700ms);
}

TEST_F(Offline, OpenOfMissingPortReportsAndStaysClosed) {
    setenv("TIVLINK_COM3", "/nonexistent/tty", 1);
    EXPECT_EQ(init_tiv3(3, 0), -1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0], "Can't open COM3 at 9600 Bd.");
    EXPECT_EQ(init_tiv3(3, -5), -1);
    EXPECT_EQ(boxes().back(), "Can't open COM3 at 9600 Bd.");
    EXPECT_EQ(init_tiv3(3, 19200), -1);
    EXPECT_EQ(boxes().back(), "Can't open COM3 at 19200 Bd.");
    EXPECT_EQ(tiv_frame_send(1, 0xFE, nullptr, 0), -1);
    EXPECT_EQ(beeps(), 1);
    unsetenv("TIVLINK_COM3");
}

// The box reads the same for every failed open; the line after it on
// standard error tells the user which device and why.
std::string open_failure_line(const std::string& device) {
    setenv("TIVLINK_COM3", device.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(init_tiv3(3, 0), -1);
    unsetenv("TIVLINK_COM3");
    return testing::internal::GetCapturedStderr();
}

TEST_F(Offline, FailedOpensNameTheDeviceAndTheReason) {
    std::string file = testing::TempDir() + "not_a_tty_" + std::to_string(getpid());
    fclose(fopen(file.c_str(), "w"));
    PtyLine held(6);
    SerialPortInfo* holder = SerialOpen(held.comnr);
    ASSERT_NE(holder, nullptr);
    std::string me = "in use by process " + std::to_string(getpid()) + " (";
    struct Row {
        std::string device, reason;
    };
    for (const Row& row : {Row{"/nonexistent/tty", "no such device"}, Row{file, "not a serial device"},
                           Row{"/dev/null", "not a serial device"}, Row{held.slave_path, me}}) {
        std::string want = "tivlink: COM3 is " + row.device + " (TIVLINK_COM3): " + row.reason;
        EXPECT_EQ(open_failure_line(row.device).rfind(want, 0), 0u) << want;
    }
    SerialClose(holder);
    unlink(file.c_str());
    if (geteuid() != 0) return;
    // The same pty, closed to a user outside its group.
    ASSERT_EQ(chown(held.slave_path.c_str(), 0, 20), 0);
    ASSERT_EQ(chmod(held.slave_path.c_str(), 0660), 0);
    int link[2];
    ASSERT_EQ(pipe(link), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(link[1], STDERR_FILENO);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        setenv("TIVLINK_COM3", held.slave_path.c_str(), 1);
        _exit(init_tiv3(3, 0) == -1 ? 0 : 1);
    }
    close(link[1]);
    char text[512] = {};
    ssize_t got = read(link[0], text, sizeof text - 1);
    close(link[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_GT(got, 0);
    EXPECT_NE(std::string(text).find(": permission denied; the user needs to be in the '"), std::string::npos) << text;
}

TEST_F(Offline, DownloadWithoutConnectionFailsItsExitCode) {
    e2_len = 2;
    e2_adr = 16;
    e2_cmd = 1;
    void* worker = download(0x10000);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(tiv_thread_join(worker), 1);
    EXPECT_EQ(beeps(), 4);  // begin, two bytes, reset
    EXPECT_EQ(e2_cmd, 0);
    EXPECT_EQ(e2_percent, 0);
}

struct FatalRow {
    const char* name;
    std::function<void()> call;
    const char* report;  // the check text and file
};

class FatalStop : public testing::TestWithParam<FatalRow> {};

TEST_P(FatalStop, EndsProcessWithStatusOneAndExactReport) {
    const FatalRow& row = GetParam();
    std::string pattern = std::string("ASSERTION FAILED: '") + row.report + " [0-9]+\n$";
    EXPECT_EXIT(row.call(), testing::ExitedWithCode(1), pattern);
}

INSTANTIATE_TEST_SUITE_P(
    Preconditions, FatalStop,
    testing::Values(
        FatalRow{"port_0", [] { init_tiv3(0, 9600); }, "comnr>=1 && comnr<=9': connection.cpp"},
        FatalRow{"port_10", [] { init_tiv3(10, 9600); }, "comnr>=1 && comnr<=9': connection.cpp"},
        FatalRow{"port_12", [] { init_tiv3(12, 0); }, "comnr>=1 && comnr<=9': connection.cpp"},
        FatalRow{"port_negative", [] { init_tiv3(-1, 0); }, "comnr>=1 && comnr<=9': connection.cpp"},
        FatalRow{"physical_ffff", [] { set_serial(1, 0xFFFF); },
                 "nphys_adr>65535 && nphys_adr<=0xFFFFFF': setup.cpp"},
        FatalRow{"physical_1000000", [] { set_serial(1, 0x1000000); },
                 "nphys_adr>65535 && nphys_adr<=0xFFFFFF': setup.cpp"},
        FatalRow{"physical_negative", [] { set_serial(1, -5); },
                 "nphys_adr>65535 && nphys_adr<=0xFFFFFF': setup.cpp"},
        FatalRow{"group_0", [] { set_group(1, 0); }, "grp_adr>0 && grp_adr<=255': setup.cpp"},
        FatalRow{"group_256", [] { set_group(1, 256); }, "grp_adr>0 && grp_adr<=255': setup.cpp"},
        FatalRow{"program_8", [] { xd_prog(1, 8); }, "\\(nr>=0 && nr<=7\\) \\|\\| nr==9': light.cpp"},
        FatalRow{"program_negative", [] { xd_prog(1, -1); },
                 "\\(nr>=0 && nr<=7\\) \\|\\| nr==9': light.cpp"},
        FatalRow{"program_10", [] { xd_prog(1, 10); },
                 "\\(nr>=0 && nr<=7\\) \\|\\| nr==9': light.cpp"},
        FatalRow{"program_min", [] { xd_prog(1, INT32_MIN); },
                 "\\(nr>=0 && nr<=7\\) \\|\\| nr==9': light.cpp"},
        FatalRow{"port_max", [] { init_tiv3(INT32_MAX, 9600); }, "comnr>=1 && comnr<=9': connection.cpp"},
        FatalRow{"physical_1", [] { set_serial(1, 1); },
                 "nphys_adr>65535 && nphys_adr<=0xFFFFFF': setup.cpp"},
        FatalRow{"physical_max", [] { set_serial(1, INT32_MAX); },
                 "nphys_adr>65535 && nphys_adr<=0xFFFFFF': setup.cpp"},
        FatalRow{"group_negative", [] { set_group(1, -1); }, "grp_adr>0 && grp_adr<=255': setup.cpp"},
        FatalRow{"null_payload", [] { tiv_frame_send(1, 0x7E, nullptr, 3); },
                 "data!=nullptr \\|\\| len==0': connection.cpp"}),
    [](const testing::TestParamInfo<FatalRow>& info) { return std::string(info.param.name); });

// The same stops with a connection open on a line the test reads, to see
// what went out before the process ended.
constexpr int kLineCom = 5;

struct Sent {
    uint32_t address;
    uint8_t command;
    std::vector<uint8_t> payload;
};

struct LineFatalRow {
    const char* name;
    std::function<void()> call;  // runs in the child
    const char* report;
    std::vector<Sent> sent;
};

class FatalStopOnLine : public testing::TestWithParam<LineFatalRow> {};

void open_line() {
    if (init_tiv3(kLineCom, 115200) != 0) _exit(3);
}

TEST_P(FatalStopOnLine, ReportsExactlyAndSendsOnlyWhatCameBefore) {
    const LineFatalRow& row = GetParam();
    PtyLine line(kLineCom);
    // Forked, not re-run: the child must write to this test's line. No
    // other thread runs here to make the fork unsafe.
    GTEST_FLAG_SET(death_test_style, "fast");
    std::string pattern = std::string("ASSERTION FAILED: '") + row.report + " [0-9]+\n$";
    EXPECT_EXIT(row.call(), testing::ExitedWithCode(1), pattern);
    std::vector<uint8_t> wire = line.read_until_quiet(std::chrono::milliseconds(300));
    std::vector<tivsim::DecodedFrame> got = tivsim::decode_all(wire);
    ASSERT_EQ(got.size(), row.sent.size());
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].kind, tivsim::FrameKind::ok);
        EXPECT_EQ(got[i].address, row.sent[i].address);
        EXPECT_EQ(got[i].command, row.sent[i].command);
        EXPECT_EQ(got[i].payload, row.sent[i].payload);
    }
}

const char* const kIllegalBaud = "!\"Fatal Error: Illegal baudrate\"': serial_config.cpp";
const char* const kBufferFull = "tiv_six<SENDBUF-1': frame_encoder.cpp";

void send_payload(uint8_t value, uint32_t n, uint32_t declared) {
    open_line();
    std::vector<uint8_t> payload(n, value);
    tiv_frame_send(1, 0x7E, payload.data(), declared);
}

INSTANTIATE_TEST_SUITE_P(
    Preconditions, FatalStopOnLine,
    testing::Values(
        LineFatalRow{"baud_110", [] { init_tiv3(kLineCom, 110); }, kIllegalBaud, {}},
        LineFatalRow{"baud_56000", [] { init_tiv3(kLineCom, 56000); }, kIllegalBaud, {}},
        LineFatalRow{"baud_128000", [] { init_tiv3(kLineCom, 128000); }, kIllegalBaud, {}},
        LineFatalRow{"baud_230400", [] { init_tiv3(kLineCom, 230400); }, kIllegalBaud, {}},
        LineFatalRow{"baud_max", [] { init_tiv3(kLineCom, INT32_MAX); }, kIllegalBaud, {}},
        LineFatalRow{"payload_991", [] { send_payload(0x5A, 991, 991); }, kBufferFull, {}},
        LineFatalRow{"payload_496_escaped", [] { send_payload(0xCA, 496, 496); }, kBufferFull, {}},
        // The length is a promise about the buffer: the stop comes before any
        // byte past the first 991 is read (AddressSanitizer watches).
        LineFatalRow{"length_max", [] { send_payload(0x5A, 1000, UINT32_MAX); }, kBufferFull, {}},
        LineFatalRow{"physical_ffff", [] { open_line(); set_serial(0x10001, 0xFFFF); },
                     "nphys_adr>65535 && nphys_adr<=0xFFFFFF': setup.cpp", {}},
        LineFatalRow{"program_8", [] { open_line(); xd_prog(0x10001, 8); },
                     "\\(nr>=0 && nr<=7\\) \\|\\| nr==9': light.cpp", {}},
        // The group is checked after the begin frame has gone out.
        LineFatalRow{"group_0", [] { open_line(); set_group(0x10001, 0); },
                     "grp_adr>0 && grp_adr<=255': setup.cpp", {{0x10001, 0xFD, {0x00}}}},
        LineFatalRow{"group_256", [] { open_line(); set_group(7, 256); },
                     "grp_adr>0 && grp_adr<=255': setup.cpp", {{7, 0xFD, {0x00}}}}),
    [](const testing::TestParamInfo<LineFatalRow>& info) { return std::string(info.param.name); });

TEST(FatalStopDeathTest, AcceptedBoundariesDoNotStop) {
    StderrCapture quiet;
    EXPECT_EQ(set_serial(1, 0xFFFFFF), 0xFFFFFF);
    EXPECT_EQ(set_serial(1, 0x10000), 0x10000);
    EXPECT_EQ(set_group(1, 255), 0);
    EXPECT_EQ(xd_prog(1, 0), -1);
    EXPECT_EQ(xd_prog(1, 7), -1);
}

TEST(DownloadDeathTest, ThreadThatCannotBeCreatedEndsProcessThroughExit) {
    auto run = [] {
        atexit([] { fprintf(stderr, "exit handlers ran\n"); });
        SyscallSwap<&PlatformSyscalls::pthread_create> refuse(
            [](pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; });
        download(0x10000);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(255),
                "Fatal Error: Create Thread failed\nexit handlers ran\n");
}

}  // namespace
