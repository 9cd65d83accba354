// Port names, exclusive opening, and stale handles.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/com_names.h"
#include "port_fixture.h"
#include "tests/support/process_counts.h"

TEST(ComNames, MapToTheConfiguredDeviceElseToTheMatchingTtyS) {
    char path[256];
    unsetenv("TIVLINK_COM3");
    ASSERT_TRUE(com_device_path("COM3", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS2");
    setenv("TIVLINK_COM3", "/tmp/some-line", 1);
    for (const char* name : {"com3", "\\\\.\\COM3"}) {
        ASSERT_TRUE(com_device_path(name, path, sizeof path)) << name;
        EXPECT_STREQ(path, "/tmp/some-line");
    }
    EXPECT_FALSE(com_device_path("COM3", path, 5));  // does not fit
    unsetenv("TIVLINK_COM3");
    ASSERT_TRUE(com_device_path("COM9", path, sizeof path));
    EXPECT_STREQ(path, "/dev/ttyS8");
    for (const char* bad : {"COM0", "COM10", "COM", "LPT1", "", "COM1 ", "\\\\.\\COMX"})
        EXPECT_FALSE(com_device_path(bad, path, sizeof path)) << bad;
}

struct OpenFailure {
    const char* name;
    const char* device;  // TIVLINK_COM8, or null to leave it unset
};

class OpenFailures : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFailures, FailAsFileNotFoundAndKeepNoDescriptor) {
    const OpenFailure& row = GetParam();
    if (row.device) setenv("TIVLINK_COM8", row.device, 1);
    else unsetenv("TIVLINK_COM8");
    struct stat st;
    if (!row.device && stat("/dev/ttyS7", &st) == 0) GTEST_SKIP() << "this machine has /dev/ttyS7";
    int fds = open_fd_count();
    SetLastError(0);
    EXPECT_EQ(open_com(row.name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(open_fd_count(), fds);
    unsetenv("TIVLINK_COM8");
}

INSTANTIATE_TEST_SUITE_P(Rows, OpenFailures,
                         ::testing::Values(OpenFailure{"COM8", nullptr}, OpenFailure{"COM8", "/dev/no-such-line"},
                                           OpenFailure{"COM8", "/dev/null"}, OpenFailure{"COM10", nullptr},
                                           OpenFailure{"PRN", nullptr}));

TEST_F(PortTest, SecondOpenIsDeniedUntilTheFirstIsClosed) {
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

static DWORD return_parameter(LPVOID parameter) { return (DWORD)(uintptr_t)parameter; }

// A closed handle, and one whose slot a new object took over, name nothing:
// every service refuses them rather than reach the record they once named.
TEST_F(PortTest, StaleAndForeignHandlesFailWithInvalidHandle) {
    HANDLE closed_port = port;
    ASSERT_TRUE(CloseHandle(port));
    port = INVALID_HANDLE_VALUE;
    HANDLE thread = CreateThread(nullptr, 0, return_parameter, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(CloseHandle(thread));
    // Most likely in a slot just freed: the generation tells them apart.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_NE(event, closed_port);
    EXPECT_NE(event, thread);
    int local = 0;
    DCB dcb{};
    DWORD n = 0, code = 0;
    BYTE byte = 0;
    for (HANDLE bad : {closed_port, thread, (HANDLE) nullptr, INVALID_HANDLE_VALUE, (HANDLE)&local, event}) {
        auto expect_invalid = [&](BOOL ok, const char* what) {
            EXPECT_FALSE(ok) << what;
            EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << what;
            SetLastError(0);
        };
        expect_invalid(GetCommState(bad, &dcb), "GetCommState");
        expect_invalid(WriteFile(bad, &byte, 1, &n, &ov), "WriteFile");
        expect_invalid(GetExitCodeThread(bad, &code), "GetExitCodeThread");
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        expect_invalid(FALSE, "WaitForSingleObject");
        if (bad != event) expect_invalid(CloseHandle(bad), "CloseHandle");
    }
    EXPECT_TRUE(CloseHandle(event));
}
