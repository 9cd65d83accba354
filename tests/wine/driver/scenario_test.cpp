// Every operation of the DLL, played by each Windows host under Wine against
// the simulated bus: frames byte for byte, the pauses between them, results,
// fatal stops, and what Wine cannot do on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "frame_check.h"
#include "sim/sim_bus.h"
#include "wine_session.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kPort = 3;
constexpr int kMissingPort = 8;  // never linked

// The pause the library adds after a frame to a physical address.
int after(uint32_t address, int pause_ms) { return pause_ms + (address > 0xFFFF ? 30 : 0); }

std::vector<ExpectedFrame> setup_sequence(uint32_t a, int begin_pause,
                                          const std::vector<std::vector<int>>& writes,
                                          uint32_t reset_to) {
    std::vector<ExpectedFrame> frames = {{a, 0xFD, {0x00}, after(a, begin_pause)}};
    for (const auto& w : writes) frames.push_back({a, 0xFB, w, after(a, 50)});
    frames.push_back({reset_to, 0xFE, {}, after(reset_to, 100)});
    return frames;
}

std::vector<std::vector<int>> address_writes(uint32_t physical) {
    std::vector<std::vector<int>> writes;
    for (int i = 0; i < 4; i++) writes.push_back({0x00, i, (int)((physical >> (24 - 8 * i)) & 0xFF)});
    return writes;
}

void append(std::vector<ExpectedFrame>& to, const std::vector<ExpectedFrame>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// The differences between the bus's log and what the library should have
// sent, one per line; the gaps join the run's pause summary.
std::string mismatches(const std::vector<tivsim::DecodedFrame>& got,
                       const std::vector<ExpectedFrame>& want) {
    std::string report;
    for (const auto& problem : check_frames(got, want, &wire_pause_stats())) report += problem + "\n";
    return report;
}

// The "light" scenario: what each call sends, and the pause after it.
const std::vector<ExpectedFrame> kLightFrames = {
    {5, 0x7E, {0x12, 0x01}, 0},
    {5, 0x7E, {0x04, 0x11, 0x22, 0x33, 0x44}, 0},
    {5, 0x7E, {0x00, 0x11, 0x22, 0x33, 0x44}, 0},
    {0x123456, 0x7E, {0x11, 0x34, 0x01}, 30},
    {0x123456, 0x7E, {0x08, 0x01, 0x01, 0x01, 0x01}, 30},
    {0x123456, 0x7E, {0x04, 0xCA, 0xCB, 0xCA, 0x01}, 30},
    {1, 0xFE, {}, 0},
    {1, 0x7D, {0x15, 0x00, 0xCB}, 0},
    {0x10000, 0x7D, {0x15, 0x00, 0xE3}, 30},
    {216, 0xFE, {}, 0},
    {0x01000005, 0x7E, {0x12, 0x01}, 30},
};
constexpr size_t kLightWrongFrame = 6;  // "light_wrong" resets group 2 here instead of 1

class HostScenario : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override { link_com(kPort, bus.slave_path()); }
    void TearDown() override { unlink_com(kPort); }

    // `host SCENARIO PORT ARGS...`
    HostRun play(const std::string& scenario, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {scenario, std::to_string(kPort)});
        return run_wine(staged_exe(GetParam()), args);
    }

    std::vector<tivsim::DecodedFrame> frames() {
        bus.wait_idle(100ms, 2s);
        return bus.frames();
    }

    void expect_frames(const std::vector<ExpectedFrame>& want) {
        std::string report = mismatches(frames(), want);
        EXPECT_TRUE(report.empty()) << report;
    }

    static void expect_done(const HostRun& run) {
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.status, 0) << run.output;
    }

    // _exit_tiv3 pauses 500 ms and must then close at once.
    static void expect_prompt_exit(const HostRun& run) {
        std::string ms = output_value(run.output, "exit_ms");
        ASSERT_FALSE(ms.empty()) << run.output;
        EXPECT_GE(std::stod(ms), 499.0);
        EXPECT_LT(std::stod(ms), 1000.0);
    }

    tivsim::SimBus bus;
};

TEST_P(HostScenario, LightCommandsAndRawFrames) {
    size_t lamp = bus.devices().add_device(0x20000, 5);
    size_t fader = bus.devices().add_device(0x123456, 1);
    HostRun run = play("light");
    expect_done(run);
    expect_prompt_exit(run);
    expect_frames(kLightFrames);
    tivsim::DeviceState lit = bus.devices().device(lamp);
    EXPECT_EQ(lit.channels, (tivsim::Colour{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(lit.frames_ignored, 0u);
    tivsim::DeviceState faded = bus.devices().device(fader);
    EXPECT_EQ(faded.fade_target, (tivsim::Colour{0xCA, 0xCB, 0xCA, 0x01}));
    EXPECT_EQ(faded.fade_param, 0x34);
    EXPECT_EQ(faded.program, 1);
}

TEST_P(HostScenario, SetupSequences) {
    bus.devices().add_device(0x10000, 2);
    HostRun run = play("setup");
    expect_done(run);
    expect_prompt_exit(run);
    std::string drawn_text = output_value(run.output, "drawn");
    ASSERT_FALSE(drawn_text.empty()) << run.output;
    uint32_t drawn = (uint32_t)std::stoul(drawn_text);

    std::vector<ExpectedFrame> want = setup_sequence(0x10000, 200, address_writes(0x123456), 0x10000);
    append(want, setup_sequence(0x123456, 100, {{0x00, 0x12, 7}}, 7));
    append(want, setup_sequence(3, 100, {{0x00, 0xC6, kAnyByte}}, 3));
    append(want, setup_sequence(4, 200, address_writes(drawn), 4));
    expect_frames(want);

    // The device took its new address and stored its new group.
    auto moved = bus.devices().find(0x123456);
    ASSERT_TRUE(moved.has_value());
    EXPECT_EQ(moved->eeprom[18], 7);
}

TEST_P(HostScenario, DownloadWithProgress) {
    size_t device = bus.devices().add_device(0x10000, 1);
    const std::vector<uint8_t> image = {0xCA, 0x42, 0xCB};
    HostRun run = play("download", {write_image("three.e2", image, 16), "0x10000", "-1"});
    expect_done(run);
    expect_prompt_exit(run);
    EXPECT_EQ(output_value(run.output, "progress"), "0 33 66 0");
    std::vector<ExpectedFrame> want = {{0x10000, 0xFD, {0x00}, 130}};
    for (int i = 0; i < 3; i++) want.push_back({0x10000, 0x7F, {0x00, 16 + i, image[i]}, 80});
    want.push_back({0x10000, 0xFE, {}, 130});
    expect_frames(want);
    tivsim::DeviceState d = bus.devices().device(device);
    EXPECT_EQ(std::vector<uint8_t>(d.eeprom.begin() + 16, d.eeprom.begin() + 19), image);
}

TEST_P(HostScenario, DownloadStoppedByTheHost) {
    std::vector<uint8_t> image(100);
    for (size_t i = 0; i < image.size(); i++) image[i] = (uint8_t)(i * 7 + 0xC0);
    HostRun run = play("download", {write_image("hundred.e2", image, 0x100), "9", "10"});
    expect_done(run);
    expect_prompt_exit(run);
    std::vector<tivsim::DecodedFrame> got = frames();
    // Stopped once progress showed 10, i.e. while byte 10 was going out.
    size_t written = got.size() - 2;
    ASSERT_GE(got.size(), 13u);
    EXPECT_LE(written, 12u);
    std::vector<ExpectedFrame> want = {{9, 0xFD, {0x00}, 100}};
    for (size_t i = 0; i < written; i++)
        want.push_back({9, 0x7F, {0x01, (int)i, image[i]}, 50});
    want.push_back({9, 0xFE, {}, 100});
    std::string report = mismatches(got, want);
    EXPECT_TRUE(report.empty()) << report;
}

TEST_P(HostScenario, SendingWithoutAConnectionFails) {
    HostRun run = play("no_connection");
    expect_done(run);
    expect_prompt_exit(run);
    expect_frames({{1, 0xFE, {}, 0}});
}

TEST_P(HostScenario, OpeningAMissingPortFails) {
    unlink_com(kMissingPort);
    HostRun run = run_wine(staged_exe(GetParam()), {"missing_port", std::to_string(kMissingPort)});
    expect_done(run);
    expect_prompt_exit(run);
    EXPECT_TRUE(frames().empty());
}

TEST_P(HostScenario, RefusedPreconditionsEndTheProcessWithStatus1) {
    struct Case {
        const char* kind;
        std::vector<ExpectedFrame> frames;
    };
    const Case cases[] = {
        {"port", {}},
        {"baud", {}},
        {"serial", {}},
        {"group", {{5, 0xFD, {0x00}, 0}}},  // the begin frame goes out before the check
        {"prog", {}},
    };
    for (const auto& c : cases) {
        bus.clear_log();
        HostRun run = play("fatal", {c.kind});
        EXPECT_FALSE(run.timed_out) << c.kind;
        EXPECT_EQ(run.status, 1) << c.kind << ":\n" << run.output;
        std::string report = mismatches(frames(), c.frames);
        EXPECT_TRUE(report.empty()) << c.kind << ":\n" << report;
    }
}

// Each send to a physical address, timed inside the host, lasts at least
// its 30 ms pause.
TEST_P(HostScenario, PausesNeverEndEarly) {
    HostRun run = play("pause_timing");
    expect_done(run);
    expect_prompt_exit(run);
    std::istringstream times(output_value(run.output, "send_ms"));
    std::vector<double> sends;
    for (double ms; times >> ms;) sends.push_back(ms);
    ASSERT_EQ(sends.size(), 40u) << run.output;
    for (double ms : sends) {
        EXPECT_GE(ms, 30.0);
        host_pause_stats().over_ms.push_back(ms - 30.0);
    }
    expect_frames(std::vector<ExpectedFrame>(40, {0x10000, 0xFE, {}, 30}));
}

// Wine cannot wait for modem-line events on a pseudo-terminal: the reader
// must end at once, the line must stay usable while the bus answers, and
// closing must not hang.
TEST_P(HostScenario, RefusedLineEventWaitEndsTheReader) {
    std::thread answer([this] {
        if (bus.wait_frames(1, 10s)) {
            std::vector<uint8_t> answers(300, 0x55);
            answers[0] = 0xCA;
            bus.send(answers);
        }
    });
    HostRun run = play("reader");
    answer.join();
    expect_done(run);
    expect_prompt_exit(run);
    EXPECT_EQ(output_value(run.output, "wait_refused"), "1")
        << "this Wine waits for line events: the refused path is not exercised";
    std::string threads = output_value(run.output, "threads");
    ASSERT_FALSE(threads.empty()) << run.output;
    int before = 0, open = 0;
    ASSERT_EQ(sscanf(threads.c_str(), "%d %d", &before, &open), 2);
    EXPECT_EQ(open, before) << "the reader thread is still running";
    EXPECT_TRUE(bus.wait_sent(2s));
    expect_frames({{1, 0xFE, {}, kHostPaced}, {2, 0xFE, {}, 0}});
}

TEST_P(HostScenario, RefusedImageFilesReturnMinusOne) {
    std::string missing = windows_path(wine_paths().work + "/no-such.e2");
    fs::path short_file = fs::path(wine_paths().work) / "four.e2";
    std::ofstream(short_file, std::ios::binary).write("\0\0\0\x10", 4);
    std::string too_low = write_image("low.e2", {0xA5, 0x5A}, 15);
    HostRun run = play("load_errors", {missing, windows_path(short_file.string()), too_low});
    expect_done(run);
    EXPECT_TRUE(frames().empty());
}

// The bus must notice a frame that is not the one the library should send.
TEST_P(HostScenario, AWrongFrameIsCaught) {
    HostRun run = play("light_wrong");
    expect_done(run);
    std::vector<tivsim::DecodedFrame> got = frames();
    ASSERT_EQ(got.size(), kLightFrames.size());
    // Only what is on the wire counts here; the pauses have tests of their
    // own, and a loaded machine can shift a gap.
    std::vector<std::string> problems;
    for (const std::string& p : check_frames(got, kLightFrames))
        if (p.rfind("gap after", 0) != 0) problems.push_back(p);
    ASSERT_EQ(problems.size(), 1u) << (problems.empty() ? "" : problems[0] + "; " + problems.back());
    EXPECT_EQ(problems[0].rfind("frame " + std::to_string(kLightWrongFrame) + ": wire", 0), 0u)
        << problems[0];
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostScenario,
                         ::testing::Values("wine_host_by_name", "wine_host_import"),
                         [](const auto& info) { return std::string(info.param); });

// The README's examples, built by the tests, against the bus.
class Example : public ::testing::TestWithParam<const char*> {};

TEST_P(Example, SetsAColour) {
    tivsim::SimBus bus;
    link_com(kPort, bus.slave_path());
    HostRun run = run_wine(staged_exe(GetParam()), {std::to_string(kPort)});
    unlink_com(kPort);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("set_rgbx: 0"), std::string::npos) << run.output;
    bus.wait_idle(100ms, 2s);
    std::string report = mismatches(bus.frames(), {
                                                      {5, 0x7E, {0x12, 0x01}, 0},
                                                      {5, 0x7E, {0x04, 0xFF, 0x80, 0x00, 0x00}, 0},
                                                      {5, 0x7E, {0x00, 0xFF, 0x80, 0x00, 0x00}, 0},
                                                  });
    EXPECT_TRUE(report.empty()) << report;
}

INSTANTIATE_TEST_SUITE_P(Windows, Example, ::testing::Values("example_by_import", "example_by_name"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
