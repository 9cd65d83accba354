// The scripted demo end to end: every step runs, and the devices end as the
// script left them.
#include <gtest/gtest.h>

#include <regex>

#include "tests/tools/child_process.h"
#include "tests/tools/tool_files.h"

namespace {

using namespace std::chrono_literals;

TEST(Demo, RunsEveryOperationAndEndsWithTheScriptedState) {
    const auto start = std::chrono::steady_clock::now();
    const Finished r = run_to_end({kTivctl, "demo", "--image-bytes", "8"}, {{"TIVLINK_COM1", ""}}, 120s);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    for (const char* step : {"$ tivctl set-serial 0xF00004 random", "$ tivctl set-group 0x100003 2",
                             "$ tivctl set-rgbx 2 '#8000FF20'", "$ tivctl fade-rgbx 0x100001 '#00FF8000' 20",
                             "$ tivctl prog 2 9", "$ tivctl send 0x100002 LIGHT 00 10 20 30 40",
                             "$ tivctl firmware-reset 0x", "$ tivctl reset 2", "$ tivctl download 0x100001 ", "download 100%, 8/8 bytes"})
        EXPECT_NE(r.out.find(step), std::string::npos) << step;
    const std::string final_state = r.out.substr(r.out.find("== Final state"));
    for (const char* row : {R"(\* 0x100001 +1  FF A5 00 00 .*#00FF8000  no +3 )",
                            R"(\* 0x100002 +1  10 20 30 40 .*#FFA50000  no +- )",
                            R"(\* 0x100003 +2  80 00 FF 20 .*#FFFFFFFF  no +9 )",
                            R"(\* 0x[0-7][0-9A-F]{5} +2  80 00 FF 20 .*#FFFFFFFF  no +9 )"})
        EXPECT_TRUE(std::regex_search(final_state, std::regex(row))) << row << "\n" << final_state;
    EXPECT_NE(r.out.find("EEPROM of 0x100001 from 0x100: 74 69 76 6C 69 6E 6B 20"), std::string::npos) << r.out;

    // Its colour commands work pasted into a shell as they stand ('#' would
    // start a comment), here on a simulated bus.
    int pasted = 0;
    for (const std::string& line : lines_of(r.out)) {
        const size_t at = line.find("$ tivctl ");
        if (at == std::string::npos || line.find('#') == std::string::npos) continue;
        const std::string command = kTivctl + " --sim " + line.substr(at + 9);
        const Finished run = run_to_end({"/bin/sh", "-c", command}, {{"TIVLINK_COM1", ""}});
        EXPECT_EQ(run.status, 0) << line << "\n" << run.err;
        pasted++;
    }
    EXPECT_GE(pasted, 4);
}

}  // namespace
