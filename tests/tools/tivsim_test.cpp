// tivsim as its own process: another process's tivctl reaches it through
// the line it prints; it ends cleanly on a signal or a limit and leaves its
// final state as JSON.
#include <gtest/gtest.h>

#include <signal.h>

#include <regex>

#include "tests/tools/child_process.h"
#include "tests/tools/tool_files.h"

namespace {

using namespace std::chrono_literals;

std::string first_line(const std::string& out) { return out.substr(0, out.find('\n')); }

// "TIVLINK_COM2=/dev/pts/7" as the environment of a host.
Env host_env(const std::string& export_line) {
    const size_t eq = export_line.find('=');
    return {{export_line.substr(0, eq), export_line.substr(eq + 1)}};
}

TEST(Tivsim, ServesTivctlInAnotherProcess) {
    ScratchFile json("state.json");
    Child sim({kTivsim, "--com", "2", "--device", "0x0A0B0C:5", "--device", "0x0A0B0D", "--frames", "4",
               "--json", json.path});
    ASSERT_TRUE(sim.wait_for("\n", 10s)) << sim.err();
    const std::string line = first_line(sim.out());
    ASSERT_TRUE(std::regex_match(line, std::regex("TIVLINK_COM2=/dev/pts/[0-9]+"))) << line;

    const Env host = host_env(line);
    const Finished colour = run_to_end({kTivctl, "--port", "2", "set-rgbx", "5", "0x11223344"}, host);
    ASSERT_EQ(colour.status, 0) << colour.err;
    const Finished prog = run_to_end({kTivctl, "--port", "2", "prog", "0x0A0B0D", "4"}, host);
    ASSERT_EQ(prog.status, 0) << prog.err;
    ASSERT_EQ(sim.wait(10s), 0) << sim.out() << sim.err();

    // Plain log lines (stdout is a pipe), then the final table.
    EXPECT_NE(sim.out().find("0x000005  len 5    LIGHT (7E)  00 11 22 33 44"), std::string::npos) << sim.out();
    EXPECT_TRUE(std::regex_search(sim.out(), std::regex(R"(\n  0x0A0B0C +5  11 22 33 44 )"))) << sim.out();
    EXPECT_TRUE(std::regex_search(sim.out(), std::regex(R"(\n  0x0A0B0D +0  00 00 00 00 .* no +4 )"))) << sim.out();
    EXPECT_EQ(sim.out().find('\x1b'), std::string::npos);

    const std::string state = json.read();
    EXPECT_NE(state.find(R"("com":2,"path":")" + line.substr(line.find('=') + 1) + "\""), std::string::npos);
    EXPECT_NE(state.find(R"("counts":{"frames":4,"good":4,"bad_crc":0,"malformed":0)"), std::string::npos) << state;
    EXPECT_NE(state.find(R"("address":658188,"group":5,"setup_mode":false,"channels":[17,34,51,68])"),
              std::string::npos)
        << state;
    EXPECT_NE(state.find(R"("program":4,"program_byte":212)"), std::string::npos) << state;
    EXPECT_NE(state.find(R"("command_name":"XD_PROG","payload":"1500D4")"), std::string::npos) << state;
}

class TivsimStops : public testing::TestWithParam<int> {};

TEST_P(TivsimStops, CleanlyOnASignalWithItsFinalState) {
    Child sim({kTivsim, "--json", "-"});
    ASSERT_TRUE(sim.wait_for("TIVLINK_COM1=", 10s)) << sim.err();
    sim.signal(GetParam());
    ASSERT_EQ(sim.wait(10s), 0) << sim.err();
    EXPECT_NE(sim.out().find("final state:"), std::string::npos) << sim.out();
    EXPECT_NE(sim.out().find(R"({"com":1,)"), std::string::npos) << sim.out();
    EXPECT_EQ(sim.err(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, TivsimStops, testing::Values(SIGTERM, SIGINT));

TEST(Tivsim, EndsAfterItsTimeLimitAndPrintsOnlyWhatQuietAllows) {
    const auto start = std::chrono::steady_clock::now();
    const Finished r = run_to_end({kTivsim, "--seconds", "0.5", "--quiet", "--devices", "2", "--json", "-"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 5s);
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].rfind("TIVLINK_COM1=", 0), 0u);
    EXPECT_NE(lines[1].find(R"("devices":[{"address":65537,"group":1,)"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(R"({"address":65538,"group":1,)"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[1].find(R"("address":65539)"), std::string::npos) << lines[1];
}

TEST(Tivsim, StalledLineReadsNothing) {
    Child sim({kTivsim, "--stall", "--seconds", "3", "--quiet", "--json", "-"});
    ASSERT_TRUE(sim.wait_for("\n", 10s));
    const Finished host = run_to_end({kTivctl, "--port", "1", "reset", "0x010001"}, host_env(first_line(sim.out())));
    EXPECT_EQ(host.status, 0) << host.err;  // the pty takes the bytes; nobody reads them
    ASSERT_EQ(sim.wait(10s), 0);
    EXPECT_NE(sim.out().find(R"("counts":{"frames":0,)"), std::string::npos) << sim.out();
    EXPECT_NE(sim.out().find(R"("bytes_received":0,)"), std::string::npos) << sim.out();
}

struct SimRefusal {
    std::vector<std::string> args;
    const char* reason;
};

void PrintTo(const SimRefusal& r, std::ostream* os) {
    *os << "tivsim";
    for (const std::string& a : r.args) *os << " " << a;
}

class TivsimRefuses : public testing::TestWithParam<SimRefusal> {};

// Before the bus exists: no TIVLINK_COM line for a host to use, no session
// to lose. The time limit in the rows ends a tivsim that took them.
TEST_P(TivsimRefuses, BeforeItStartsWithStatusTwo) {
    std::vector<std::string> argv = {kTivsim, "--quiet"};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    const Finished r = run_to_end(argv, {}, 10s);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(lines_of(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("tivsim: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(GetParam().reason), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, TivsimRefuses,
    testing::Values(SimRefusal{{"--seconds", "0.2", "--device", "0x010001", "--device", "65537:3"},
                               "device address 0x010001 is given twice"},
                    SimRefusal{{"--seconds", "0.2", "--frames", "-1"}, "frame count '-1' is not a number"},
                    SimRefusal{{"--seconds", "nan"}, "'nan' is not a number of seconds"},
                    SimRefusal{{"--seconds", "0.2", "--noise", "nan"}, "'nan' is not a number of bytes per second"},
                    SimRefusal{{"--seconds", "0.2", "--json", "/nonexistent/state.json"},
                               "cannot write /nonexistent/state.json"}));

}  // namespace
