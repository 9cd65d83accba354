// Every tivctl operation on its in-process simulated bus: the frames it
// puts on the line and what they did to the devices, read from what tivctl
// prints, the way a user reads it.
#include <gtest/gtest.h>

#include <regex>

#include "tests/tools/child_process.h"
#include "tests/tools/tool_files.h"

namespace {

struct SimCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> commands;  // decoded frames, in order: "LIGHT (7E)  12 01", ...
    std::vector<std::string> rows;      // regexes of device rows that must show up
};

void PrintTo(const SimCase& c, std::ostream* os) { *os << c.name; }

class TivctlOnSim : public testing::TestWithParam<SimCase> {};

// The frame lines of tivctl's report, from after the address on.
std::vector<std::string> frame_lines(const std::string& out) {
    std::vector<std::string> frames;
    bool in_frames = false;
    for (const std::string& line : lines_of(out)) {
        if (line.find("on the bus") != std::string::npos) {
            in_frames = true;
            continue;
        }
        if (in_frames) frames.push_back(line);
    }
    return frames;
}

TEST_P(TivctlOnSim, SendsItsFramesAndChangesTheDevice) {
    const SimCase& c = GetParam();
    std::vector<std::string> argv = {kTivctl, "--sim"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const Finished r = run_to_end(argv, {{"TIVLINK_COM1", ""}});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> frames = frame_lines(r.out);
    ASSERT_EQ(frames.size(), c.commands.size()) << r.out;
    for (size_t i = 0; i < frames.size(); i++) {
        EXPECT_NE(frames[i].find(c.commands[i]), std::string::npos) << frames[i];
        EXPECT_NE(frames[i].find(" ok"), std::string::npos) << frames[i];
    }
    for (const std::string& row : c.rows)
        EXPECT_TRUE(std::regex_search(r.out, std::regex(row))) << "no row like " << row << " in\n" << r.out;
}

// Rows: "* 0x010001      1  11 22 33 44   ...  #fade  setup  program  frames".
INSTANTIATE_TEST_SUITE_P(
    Operations, TivctlOnSim,
    testing::Values(
        SimCase{"set_rgbx_hex",
                {"set-rgbx", "0x010001", "0x11223344"},
                {"LIGHT (7E)  12 01", "LIGHT (7E)  04 11 22 33 44", "LIGHT (7E)  00 11 22 33 44"},
                {R"(\* 0x010001 +1  11 22 33 44 )", R"(\n  0x010002 +1  00 00 00 00 )"}},
        SimCase{"set_rgbx_group_by_colour_name",
                {"set-rgbx", "2", "#A1B2C3D4"},
                {"0x000002  len 2    LIGHT (7E)  12 01", "LIGHT (7E)  04 A1 B2 C3 D4", "LIGHT (7E)  00 A1 B2 C3 D4"},
                {R"(\* 0x010003 +2  A1 B2 C3 D4 )", R"(\* 0x010004 +2  A1 B2 C3 D4 )",
                 R"(\n  0x010001 +1  00 00 00 00 )"}},
        SimCase{"fade_rgbx",
                {"fade-rgbx", "0x010002", "#01020304", "0x7F"},
                {"LIGHT (7E)  11 7F 01", "LIGHT (7E)  08 01 01 01 01", "LIGHT (7E)  04 01 02 03 04"},
                {R"(\* 0x010002 +1  00 00 00 00 .*#01020304)"}},
        SimCase{"reset", {"reset", "0x010003"}, {"0x010003  len 0    RESET (FE)"}, {R"(\* 0x010003 )"}},
        SimCase{"prog_group",
                {"prog", "1", "7"},
                {"XD_PROG (7D)  15 00 DD"},
                {R"(\* 0x010001 .* no +7 )", R"(\* 0x010002 .* no +7 )"}},
        SimCase{"set_serial",
                {"set-serial", "0x010004", "0x123456"},
                {"SETUP_BEGIN (FD)  00", "SETUP_WRITE (FB)  00 00 00", "SETUP_WRITE (FB)  00 01 12",
                 "SETUP_WRITE (FB)  00 02 34", "SETUP_WRITE (FB)  00 03 56", "0x010004  len 0    RESET (FE)"},
                {R"(^0x123456\n)", R"(\* 0x123456 +2 .* no )"}},
        SimCase{"set_group",
                {"set-group", "0x010001", "9"},
                {"SETUP_BEGIN (FD)  00", "SETUP_WRITE (FB)  00 12 09", "0x000009  len 0    RESET (FE)"},
                {R"(\* 0x010001 +9 .* no )"}},
        SimCase{"firmware_reset",
                {"firmware-reset", "0x010002"},
                {"SETUP_BEGIN (FD)  00", "SETUP_WRITE (FB)  00 C6 ", "0x010002  len 0    RESET (FE)"},
                {R"(\* 0x010002 +1 .* no )"}},
        SimCase{"send_raw_by_name",
                {"send", "0x010003", "light", "00", "CA:CB", "0x0102"},
                {"LIGHT (7E)  00 CA CB 01 02"},
                {R"(\* 0x010003 +2  CA CB 01 02 )"}},
        SimCase{"custom_devices",
                {"--sim-device", "0xABCDEF:7", "set-rgbx", "7", "1"},
                {"LIGHT (7E)  12 01", "LIGHT (7E)  04 00 00 00 01", "LIGHT (7E)  00 00 00 00 01"},
                {R"(\* 0xABCDEF +7  00 00 00 01 )"}}),
    [](const testing::TestParamInfo<SimCase>& info) { return std::string(info.param.name); });

TEST(TivctlOnSim, DownloadWritesTheImageAndEndsWithTheReset) {
    ScratchFile image("image.bin");
    write_image(image, 4, 0x30);
    const Finished r = run_to_end({kTivctl, "--sim", "download", "0x010001", image.path}, {{"TIVLINK_COM1", ""}});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> frames = frame_lines(r.out);
    const std::vector<std::string> want = {"SETUP_BEGIN (FD)  00",        "IMAGE_WRITE (7F)  00 30 40",
                                           "IMAGE_WRITE (7F)  00 31 41", "IMAGE_WRITE (7F)  00 32 42",
                                           "IMAGE_WRITE (7F)  00 33 43", "RESET (FE)"};
    ASSERT_EQ(frames.size(), want.size()) << r.out;
    for (size_t i = 0; i < want.size(); i++) EXPECT_NE(frames[i].find(want[i]), std::string::npos) << frames[i];
}

}  // namespace

namespace {

// --json: the operation's result, then the bus in tivsim's shape, a line each.
TEST(TivctlJson, ResultThenTheSimulatedBus) {
    const Finished r = run_to_end({kTivctl, "--sim", "--json", "set-serial", "0x010002", "0x123456"},
                                  {{"TIVLINK_COM1", ""}});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0], R"({"operation":"set-serial 0x010002 0x123456","ok":true,"exit":0,"address":"0x123456"})");
    EXPECT_EQ(lines[1].rfind(R"({"com":1,"path":"/dev/pts/)", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(R"("counts":{"frames":6,"good":6,)"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(R"({"address":1193046,"group":1,)"), std::string::npos) << lines[1];
}

}  // namespace
