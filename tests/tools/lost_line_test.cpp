// tivctl when the line or the user's side goes away in the middle of an
// operation: a bus that hangs up, a terminal that closes, a reader of its
// output that quits. The bus is a simulated one in this process.
#include <gtest/gtest.h>

#include <signal.h>

#include <functional>

#include "sim/protocol.h"
#include "sim/sim_bus.h"
#include "tests/tools/child_process.h"
#include "tests/tools/tool_files.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kDevice = 0x010001;

struct Bus {
    Bus() { bus.devices().add_device(kDevice, 1); }
    Env env() const { return {{"TIVLINK_COM1", bus.slave_path()}}; }
    bool in_setup_mode() { return bus.devices().find(kDevice)->setup_mode; }
    tivsim::SimBus bus;
};

struct SetupCase {
    const char* name;
    std::vector<std::string> args;
};

void PrintTo(const SetupCase& c, std::ostream* os) { *os << c.name; }

class HangUpMidSequence : public testing::TestWithParam<SetupCase> {};

// The setup sequences return their usual result whatever their frames did;
// tivctl must still not report success, nor an address as stored.
TEST_P(HangUpMidSequence, ExitsOneAndClaimsNothing) {
    Bus line;
    std::vector<std::string> argv = {kTivctl, "--port", "1"};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    Child child(argv, {line.env()});
    ASSERT_TRUE(line.bus.wait_frames(1, 10s));  // the begin frame, then a pause of 100 ms or more
    line.bus.drop();
    EXPECT_EQ(child.wait(30s), 1) << child.out() << child.err();
    EXPECT_NE(child.err().find("COM1 - Write Error!"), std::string::npos) << child.err();
    EXPECT_NE(child.err().find("not written whole"), std::string::npos) << child.err();
    EXPECT_EQ(child.out(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, HangUpMidSequence,
    testing::Values(SetupCase{"set_serial", {"set-serial", "0x010001", "0x123456"}},
                    SetupCase{"set_serial_random", {"set-serial", "0x010001", "random"}},
                    SetupCase{"set_group", {"set-group", "0x010001", "5"}},
                    SetupCase{"firmware_reset", {"firmware-reset", "0x010001"}}),
    [](const testing::TestParamInfo<SetupCase>& info) { return std::string(info.param.name); });

struct Interruption {
    const char* name;
    std::function<void(Child&)> act;
    int status;         // tivctl's exit status
    bool whole_image;   // the download runs to its end
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class DownloadInterrupted : public testing::TestWithParam<Interruption> {};

TEST_P(DownloadInterrupted, EndsWithTheResetOnTheBus) {
    Bus line;
    ScratchFile image("image.bin");
    write_image(image, 12);  // about 1 s
    Child child({kTivctl, "--port", "1", "download", "0x010001", image.path, "--interval", "0.05"}, {line.env()});
    ASSERT_TRUE(line.bus.wait_frames(3, 10s));  // begin and two image bytes
    ASSERT_TRUE(child.wait_for("download ", 5s)) << child.err();
    GetParam().act(child);
    EXPECT_EQ(child.wait(30s), GetParam().status) << child.err();
    line.bus.wait_idle(100ms, 5s);

    const std::vector<tivsim::DecodedFrame> frames = line.bus.frames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames.front().command, tivsim::kSetupBegin);
    EXPECT_EQ(frames.back().command, tivsim::kReset);
    if (GetParam().whole_image) {
        EXPECT_EQ(frames.size(), 12u + 2u);
    }
    EXPECT_FALSE(line.in_setup_mode());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, DownloadInterrupted,
    testing::Values(Interruption{"terminal_closed", [](Child& c) { c.signal(SIGHUP); }, 128 + SIGHUP, false},
                    Interruption{"reader_of_output_quits", [](Child& c) { c.close_out(); }, 0, true}),
    [](const testing::TestParamInfo<Interruption>& info) { return std::string(info.param.name); });

}  // namespace
