// tivctl's command line as a user meets it: what it refuses, with which
// status and reason, before anything is sent; help on every sub-command.
#include <gtest/gtest.h>

#include "tests/tools/child_process.h"
#include "include/tivlink.h"
#include "tests/tools/tool_files.h"

namespace {

struct Refusal {
    std::vector<std::string> args;
    const char* reason;
    const char* misleading = nullptr;  // must not be in the reason
};

void PrintTo(const Refusal& r, std::ostream* os) {
    *os << "tivctl";
    for (const std::string& a : r.args) *os << " " << a;
}

class TivctlRefuses : public testing::TestWithParam<Refusal> {};

// A COM port that would fail to open: any send reaching the library would
// show its box instead of our reason.
const Env kNoPort = {{"TIVLINK_COM1", "/nonexistent/tty"}};

TEST_P(TivctlRefuses, WithStatusTwoAndOneLineReason) {
    std::vector<std::string> argv = {kTivctl};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    const Finished r = run_to_end(argv, kNoPort);
    EXPECT_EQ(r.status, 2) << r.err;
    const auto lines = lines_of(r.err);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("tivctl: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(GetParam().reason), std::string::npos) << lines[0];
    if (GetParam().misleading) {
        EXPECT_EQ(lines[0].find(GetParam().misleading), std::string::npos) << lines[0];
    }
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Tables, TivctlRefuses,
    testing::Values(Refusal{{}, "subcommand is required"},
                    Refusal{{"set-rgbx", "0x1000000", "1"}, "address '0x1000000' is outside 0..0xFFFFFF"},
                    Refusal{{"set-rgbx", "-1", "1"}, "address '-1' is not a number"},
                    Refusal{{"set-rgbx", "5", "#1234567"}, "needs 6 or 8 hex digits"},
                    Refusal{{"set-rgbx", "5", "0x100000000"}, "larger than 0xFFFFFFFF"},
                    Refusal{{"set-rgbx", "5"}, "COLOUR is required"},
                    Refusal{{"fade-rgbx", "5", "#11223344", "256"}, "value '256' is outside 0..255"},
                    Refusal{{"prog", "5", "8"}, "program '8' is outside 0..7 and 9"},
                    Refusal{{"set-group", "0x010001", "0"}, "group '0' is outside 1..255"},
                    Refusal{{"set-serial", "0x010001", "0xFFFF"}, "outside 0x10000..0xFFFFFF"},
                    Refusal{{"set-serial", "0x010001", "0x1000000"}, "outside 0x10000..0xFFFFFF"},
                    Refusal{{"--port", "0", "reset", "1"}, "port '0' is outside 1..9"},
                    Refusal{{"--port", "10", "reset", "1"}, "port '10' is outside 1..9"},
                    Refusal{{"--baud", "1000", "reset", "1"}, "does not divide 115200"},
                    Refusal{{"send", "1", "LIGTH"}, "neither a command name nor 0..255"},
                    Refusal{{"send", "1", "0x7E", "123"}, "two hex digits per byte"},
                    Refusal{{"monitor"}, "one of --device, --pty or --read"},
                    Refusal{{"--sim", "monitor", "--pty"}, "--sim does not apply"},
                    Refusal{{"--sim-device", "0x010001", "reset", "1"}, "--sim-device needs --sim"},
                    Refusal{{"--sim", "--sim-device", "0x20", "reset", "1"}, "outside 0x10000..0xFFFFFF"},
                    Refusal{{"--port", "2", "frobnicate"}, "unknown sub-command 'frobnicate'"},
                    Refusal{{"reset", "0x100000000"}, "address '0x100000000' is outside 0..0xFFFFFF"},
                    Refusal{{"--sim", "--sim-device", "0x5", "reset", "1"}, "outside 0x10000..0xFFFFFF", "random"},
                    Refusal{{"--sim", "--sim-device", "0x010001", "--sim-device", "65537:2", "reset", "1"},
                            "device address 0x010001 is given twice"},
                    Refusal{{"demo", "--sim-device", "0x010001"}, "--sim-device does not apply"},
                    Refusal{{"monitor", "--pty", "--seconds", "-1"}, "'-1' is not a number of seconds"},
                    Refusal{{"monitor", "--pty", "--frames", "-1"}, "frame count '-1' is not a number"},
                    Refusal{{"monitor", "--pty", "--capture", "/nonexistent/run.cap"},
                            "cannot write capture file /nonexistent/run.cap"},
                    Refusal{{"reset", "1"}, "choose the port: --port N, --device PATH or --sim"},
                    Refusal{{"--sim", "--device", "/dev/null", "reset", "1"}, "--device does not apply"}));

TEST(Tivctl, RefusesAFrameTheLibraryWouldStopTheProcessFor) {
    std::vector<std::string> argv = {kTivctl, "--port", "1", "send", "0x010001", "0x42", std::string(991 * 2, '0')};
    const Finished r = run_to_end(argv, kNoPort);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("991 bytes does not fit"), std::string::npos) << r.err;
    // The largest frame that fits goes as far as the library (which then
    // cannot open the port): proof that the limit is not set too low.
    argv.back() = std::string(990 * 2, '0');
    const Finished fits = run_to_end(argv, kNoPort);
    EXPECT_EQ(fits.status, 1);
    EXPECT_NE(fits.err.find("Can't open COM1 at 9600 Bd."), std::string::npos) << fits.err;
}

TEST(Tivctl, LibraryFailureExitsOneWithTheLibrarysLine) {
    const Finished r = run_to_end({kTivctl, "--port", "3", "--baud", "19200", "reset", "5"},
                                  {{"TIVLINK_COM3", "/nonexistent/tty"}});
    EXPECT_EQ(r.status, 1);
    const auto lines = lines_of(r.err);
    // The box, then the library's line that names the device and the reason.
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_NE(lines[0].find("Can't open COM3 at 19200 Bd."), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "tivlink: COM3 is /nonexistent/tty (TIVLINK_COM3): no such device");
}

TEST(Tivctl, MissingImageFileFailsBeforeThePortIsOpened) {
    const Finished r = run_to_end({kTivctl, "--port", "1", "download", "0x010001", "/nonexistent/image.bin"}, kNoPort);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Can't open file '/nonexistent/image.bin'"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Can't open COM1"), std::string::npos) << r.err;
}

TEST(Tivctl, EverySubcommandHasHelp) {
    for (const char* sub : {"set-rgbx", "fade-rgbx", "reset", "prog", "set-serial", "set-group", "firmware-reset",
                            "download", "send", "monitor", "demo"}) {
        const Finished r = run_to_end({kTivctl, sub, "--help"});
        EXPECT_EQ(r.status, 0) << sub;
        EXPECT_NE(r.out.find(std::string("tivctl ") + sub), std::string::npos) << r.out;
        for (const char* global : {"--port N", "--device PATH", "--baud B", "--sim "})
            EXPECT_NE(r.out.find(global), std::string::npos) << sub << " lacks " << global;
    }
    const Finished send = run_to_end({kTivctl, "send", "--help"});
    for (const char* name : {"SETUP_BEGIN (253)", "IMAGE_WRITE", "RESET", "LIGHT (126)", "XD_PROG"})
        EXPECT_NE(send.out.find(name), std::string::npos) << name << " not in\n" << send.out;
    const Finished top = run_to_end({kTivctl, "--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("--sim"), std::string::npos);
}

TEST(Tools, PrintTheHeadersVersion) {
    for (const std::string& tool : {kTivctl, kTivsim}) {
        const Finished r = run_to_end({tool, "--version"});
        EXPECT_EQ(r.status, 0) << tool;
        const std::string name = tool.substr(tool.rfind('/') + 1);
        EXPECT_EQ(r.out, name + " " TIVLINK_VERSION_STRING "\n");
    }
}

}  // namespace
