// Port names, exclusive opening, and closing without leftovers.
#include <asm/termbits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "port_fixture.h"

TEST(ComNames, MapToTheConfiguredDeviceElseToTheMatchingTtyS) {
    char path[256];
    unsetenv("TIVLINK_COM3");
    ASSERT_TRUE(platform_com_device_path("COM3", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS2");
    setenv("TIVLINK_COM3", "/tmp/some-line", 1);
    ASSERT_TRUE(platform_com_device_path("com3", path, sizeof path));
    EXPECT_STREQ(path, "/tmp/some-line");
    ASSERT_TRUE(platform_com_device_path("\\\\.\\COM3", path, sizeof path));
    EXPECT_STREQ(path, "/tmp/some-line");
    unsetenv("TIVLINK_COM3");
    ASSERT_TRUE(platform_com_device_path("COM9", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS8");
    for (const char* bad : {"COM0", "COM10", "COM", "LPT1", "", "COM1 ", "\\\\.\\COMX"})
        EXPECT_FALSE(platform_com_device_path(bad, path, sizeof path)) << bad;
}

struct OpenFailure {
    const char* name;
    const char* device;  // TIVLINK_COM8, or null to leave it unset
    DWORD code;
};

class OpenFailures : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFailures, FailWithTheWindowsCode) {
    const OpenFailure& row = GetParam();
    if (row.device) setenv("TIVLINK_COM8", row.device, 1);
    else unsetenv("TIVLINK_COM8");
    struct stat st;
    if (!row.device && stat("/dev/ttyS7", &st) == 0) GTEST_SKIP() << "this machine has /dev/ttyS7";
    int fds = open_fd_count();
    SetLastError(0);
    EXPECT_EQ(open_com(row.name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), row.code);
    EXPECT_EQ(open_fd_count(), fds);
    unsetenv("TIVLINK_COM8");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenFailures,
    ::testing::Values(OpenFailure{"COM8", nullptr, ERROR_FILE_NOT_FOUND},
                      OpenFailure{"COM8", "/dev/no-such-line", ERROR_FILE_NOT_FOUND},
                      OpenFailure{"COM8", "/dev/null", ERROR_FILE_NOT_FOUND},
                      OpenFailure{"COM0", nullptr, ERROR_FILE_NOT_FOUND},
                      OpenFailure{"COM10", nullptr, ERROR_FILE_NOT_FOUND},
                      OpenFailure{"PRN", nullptr, ERROR_FILE_NOT_FOUND}));

TEST_F(PortTest, SecondOpenInThisProcessIsDeniedAndWorksAgainAfterClose) {
    SetLastError(0);
    EXPECT_EQ(open_com("COM7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(CloseHandle(port));
    port = open_com("COM7");
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
}

// Root passes TIOCEXCL; the advisory lock still keeps it out.
TEST_F(PortTest, OpenFromAnotherProcessIsDenied) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE h = open_com("COM7");
        _exit(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(PortTest, OpenPutsTheLineInRawMode) {
    SlaveTermios t = pty.slave_termios();
    EXPECT_EQ(t.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.oflag & OPOST, 0u);
    EXPECT_EQ(t.iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | PARMRK), 0u);
    EXPECT_EQ(t.cflag & (CSIZE | PARENB), (unsigned)CS8);
}

TEST_F(PortTest, ClosedPortHandleIsInvalid) {
    HANDLE stale = port;
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    DCB dcb{};
    DWORD n = 0;
    BYTE byte = 0;
    SetLastError(0);
    EXPECT_FALSE(GetCommState(stale, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WriteFile(stale, &byte, 1, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(stale));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Every cycle leaves a wait pending at close; close must complete it as
// aborted and take the descriptor, the I/O thread and the record with it.
TEST(PortCycles, ThousandOpenCloseCyclesWithAPendingWaitLeaveNothing) {
    PtyLine pty{0, true, false};  // the port makes the line raw itself
    pty.map_to_com(TEST_COM);
    int fds = open_fd_count();
    int threads = baseline_thread_count();
    int records = platform_handle_records();
    for (int i = 0; i < 1000; i++) {
        HANDLE port = open_com("COM7");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << "cycle " << i << " error " << GetLastError();
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD mask = 0xDEAD;
        ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
        ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(CloseHandle(port));
        ASSERT_TRUE(HasOverlappedIoCompleted(&ov));
        EXPECT_EQ(ov.Internal, ERROR_OPERATION_ABORTED);
        EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_OBJECT_0);
        CloseHandle(ov.hEvent);
    }
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_EQ(platform_handle_records(), records);
    EXPECT_EQ(settled_count(thread_count, threads), threads);
}
