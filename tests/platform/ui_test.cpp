// The error box as one line on standard error, and the beep on a terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/syscall_swap.h"

static std::mutex seen_lock;
static std::vector<std::string> stderr_writes;
static bool stderr_is_terminal;

static ssize_t capture_write(int fd, const void* data, size_t size) {
    if (fd != STDERR_FILENO) return platform_syscalls_default.write(fd, data, size);
    std::lock_guard<std::mutex> hold(seen_lock);
    stderr_writes.emplace_back((const char*)data, size);
    return (ssize_t)size;
}

static int fake_isatty(int fd) { return fd == STDERR_FILENO ? stderr_is_terminal : platform_syscalls_default.isatty(fd); }

class StderrTest : public ::testing::Test {
protected:
    void SetUp() override { stderr_writes.clear(); }
    SyscallSwap<&PlatformSyscalls::write> write_swap{capture_write};
    SyscallSwap<&PlatformSyscalls::isatty> isatty_swap{fake_isatty};
};

TEST_F(StderrTest, ABoxIsOneWriteOfOneLine) {
    struct Row {
        const char* caption;
        const char* text;
        std::string line;
    };
    std::string long_text(3000, 'x');
    const Row rows[] = {{"Error: /usr/bin/tool", "Port busy", "Error: /usr/bin/tool: Port busy\n"},
                        {"Caption", "ends in a newline\n", "Caption: ends in a newline\n"},
                        {nullptr, nullptr, "Error: \n"}};
    for (const Row& row : rows) {
        stderr_writes.clear();
        EXPECT_EQ(MessageBoxA(nullptr, row.text, row.caption, MB_ICONERROR), IDOK);
        ASSERT_EQ(stderr_writes.size(), 1u) << row.line;
        EXPECT_EQ(stderr_writes[0], row.line);
    }
    stderr_writes.clear();
    MessageBoxA(nullptr, long_text.c_str(), "Cut", MB_ICONERROR);
    ASSERT_EQ(stderr_writes.size(), 1u);
    EXPECT_EQ(stderr_writes[0].back(), '\n');
    EXPECT_EQ(stderr_writes[0].find('\n'), stderr_writes[0].size() - 1);
}

TEST_F(StderrTest, TheBeepRingsOnlyOnATerminal) {
    for (bool terminal : {true, false}) {
        stderr_is_terminal = terminal;
        stderr_writes.clear();
        EXPECT_TRUE(MessageBeep(MB_ICONERROR));
        EXPECT_EQ(stderr_writes, terminal ? std::vector<std::string>{"\a"} : std::vector<std::string>{});
    }
}
