#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "tests/support/stderr_capture.h"

namespace {

std::string executable_path() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, n > 0 ? n : 0);
}

class MsgErrorTest : public testing::Test {
  protected:
    StderrCapture capture;
};

TEST_F(MsgErrorTest, FormatsBodyAndTitlesWithExecutable) {
    MsgError("Can't open COM%d at %d Bd.", 3, 9600);
    std::vector<CapturedBox> boxes = capture.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Can't open COM3 at 9600 Bd.");
    EXPECT_EQ(boxes[0].caption, "Error: " + executable_path());
}

TEST_F(MsgErrorTest, LongTextIsCutToMessageArea) {
    std::string path(5000, 'p');
    MsgError("Can't open file '%s'", path.c_str());
    std::vector<std::string> texts = capture.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].size(), 251u);
    EXPECT_EQ(texts[0], "Can't open file '" + std::string(251 - 17, 'p'));
}

TEST_F(MsgErrorTest, HexAndDecimalConversions) {
    MsgError("Transfer Error, Code: %x, %d)", 15, 2);
    EXPECT_EQ(capture.texts(), std::vector<std::string>{"Transfer Error, Code: f, 2)"});
}

int evaluations;
bool counted(bool value) {
    evaluations++;
    return value;
}

TEST(Assert, PassingCheckEvaluatesOnceAndReturns) {
    evaluations = 0;
    TIV_ASSERT(counted(true));
    EXPECT_EQ(evaluations, 1);
}

TEST(Assert, BaseNameDropsDirectories) {
    EXPECT_STREQ(tiv_base_name("/a/b/serial.cpp"), "serial.cpp");
    EXPECT_STREQ(tiv_base_name("a\\b\\serial.cpp"), "serial.cpp");
    EXPECT_STREQ(tiv_base_name("serial.cpp"), "serial.cpp");
}

TEST(AssertDeathTest, FailedCheckReportsTextFileLineAndExitsWithOne) {
    int comnr = 12;
    int line = __LINE__ + 1;
    auto check = [&] { TIV_ASSERT(comnr>=1 && comnr<=9); };
    std::string expected = "^Error: " + executable_path() +
                           ": ASSERTION FAILED: 'comnr>=1 && comnr<=9': diagnostics_test.cpp " +
                           std::to_string(line) + "\n$";
    EXPECT_EXIT(check(), testing::ExitedWithCode(1), expected);
}

TEST(AssertDeathTest, MessageIdiomsPrintTheirLiterals) {
    void* spi = nullptr;
    EXPECT_EXIT(TIV_ASSERT(spi && "Fatal Error: Out of memory!"), testing::ExitedWithCode(1),
                "'spi && \"Fatal Error: Out of memory!\"'");
    EXPECT_EXIT(TIV_ASSERT(!"Fatal Error: Illegal baudrate"), testing::ExitedWithCode(1),
                "'!\"Fatal Error: Illegal baudrate\"'");
}

TEST(AssertDeathTest, ExitRunsNoExitHandlers) {
    auto run = [] {
        atexit([] { fprintf(stderr, "exit handler ran\n"); });
        AssertFailed("x", "f.cpp", 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(1), "^[^\n]*ASSERTION FAILED: 'x': f.cpp 1\n$");
}

}  // namespace
