// System calls failing under the services: each fails with the Win32 code
// of the errno, changes nothing and keeps nothing it took on the way.
#include <asm/termbits.h>
#include <string.h>
#include <sys/ioctl.h>

#include <functional>

#include "port_fixture.h"
#include "tests/support/process_counts.h"
#include "tests/support/syscall_faults.h"

struct PortFault {
    const char* name;
    std::function<BOOL(PortTest&)> call;  // arms its fault, calls once
    std::function<void(PortTest&)> expect_untouched;
};

class PortFaults : public PortTest, public ::testing::WithParamInterface<PortFault> {};

TEST_P(PortFaults, FailWithGenFailureAndChangeNothing) {
    pty.write("abc", 3);
    ASSERT_EQ(queued_after(3), 3u);
    SetLastError(0);
    EXPECT_FALSE(GetParam().call(*this));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    GetParam().expect_untouched(*this);
}

static void input_kept(PortTest& t) { EXPECT_EQ(t.queued_after(3), 3u); }

INSTANTIATE_TEST_SUITE_P(
    Rows, PortFaults,
    ::testing::Values(
        PortFault{"GetCommState",
                  [](PortTest& t) {
                      IoctlFault f(TCGETS2, EIO);
                      DCB d{};
                      return GetCommState(t.port, &d) || d.BaudRate != 0;  // nothing written back
                  },
                  input_kept},
        PortFault{"SetCommState",
                  [](PortTest& t) {
                      DCB d = t.state();
                      d.BaudRate = 1200;
                      IoctlFault f(TCSETS2, EIO);
                      return SetCommState(t.port, &d);
                  },
                  [](PortTest& t) {
                      EXPECT_NE(t.state().BaudRate, 1200u);
                      EXPECT_NE(t.pty.slave_termios().ospeed, 1200u);
                  }},
        PortFault{"ClearCommError",
                  [](PortTest& t) {
                      IoctlFault f(FIONREAD, EIO);
                      COMSTAT s{};
                      return ClearCommError(t.port, nullptr, &s) || s.cbInQue != 0;
                  },
                  input_kept},
        PortFault{"PurgeComm", [](PortTest& t) { IoctlFault f(TCFLSH, EIO); return PurgeComm(t.port, PURGE_RXCLEAR); },
                  input_kept},
        PortFault{"WaitCommEvent_arms_nothing",
                  [](PortTest& t) {
                      EXPECT_TRUE(SetCommMask(t.port, EV_RXCHAR));
                      IoctlFault f(FIONREAD, EIO);
                      DWORD mask = 0;
                      return WaitCommEvent(t.port, &mask, &t.ov);
                  },
                  [](PortTest& t) {
                      DWORD mask = 0;  // not "already waiting"
                      EXPECT_TRUE(WaitCommEvent(t.port, &mask, &t.ov)) << GetLastError();
                  }},
        PortFault{"ReadFile_takes_nothing",
                  [](PortTest& t) {
                      TtyFault<&PlatformSyscalls::read> f(EIO);
                      BYTE buffer[3];
                      DWORD n = 99;
                      return ReadFile(t.port, buffer, 3, &n, &t.ov) || n != 0;
                  },
                  input_kept},
        PortFault{"WriteFile_sends_nothing",
                  [](PortTest& t) {
                      TtyFault<&PlatformSyscalls::write> f(EIO);
                      DWORD n = 99;
                      return WriteFile(t.port, "gone", 4, &n, &t.ov) || n != 0;
                  },
                  [](PortTest& t) { EXPECT_TRUE(t.pty.read_until_quiet(100ms, 4).empty()); }}),
    [](const auto& info) { return std::string(info.param.name); });

struct CreateFault {
    const char* name;
    std::function<bool()> create;  // arms its fault; whether the call failed
    DWORD error;
};

class CreateFaults : public ::testing::TestWithParam<CreateFault> {};

static bool port_refused() {
    HANDLE port = open_com("COM7");
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    return port == INVALID_HANDLE_VALUE;
}

static bool ran;
static DWORD note_run(LPVOID) {
    ran = true;
    return 0;
}

// Nothing is left open or locked: the port opens again right after.
TEST_P(CreateFaults, FailWithTheirCodeAndLeaveNothingBehind) {
    PtyLine pty{TEST_COM, true, false};
    int fds = open_fd_count();
    ran = false;
    SetLastError(0);
    EXPECT_TRUE(GetParam().create());
    EXPECT_EQ(GetLastError(), GetParam().error);
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_FALSE(port_refused()) << GetLastError();
    Sleep(10);
    EXPECT_FALSE(ran);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CreateFaults,
    ::testing::Values(
        CreateFault{"open_busy", [] { CallFault<&PlatformSyscalls::open> f(0, 1, EBUSY); return port_refused(); },
                    ERROR_ACCESS_DENIED},
        CreateFault{"lock_held",
                    [] { CallFault<&PlatformSyscalls::flock> f(0, 1, EWOULDBLOCK); return port_refused(); },
                    ERROR_ACCESS_DENIED},
        CreateFault{"raw_mode_refused", [] { IoctlFault f(TCSETS2, EIO); return port_refused(); }, ERROR_GEN_FAILURE},
        CreateFault{"port_record", [] { CallFault<&PlatformSyscalls::calloc> f; return port_refused(); },
                    ERROR_NOT_ENOUGH_MEMORY},
        CreateFault{"wake_descriptor",
                    [] { CallFault<&PlatformSyscalls::eventfd> f(0, 1, EMFILE); return port_refused(); },
                    ERROR_TOO_MANY_OPEN_FILES},
        CreateFault{"event",
                    [] {
                        CallFault<&PlatformSyscalls::calloc> f;
                        return CreateEventA(nullptr, TRUE, FALSE, nullptr) == nullptr;
                    },
                    ERROR_NOT_ENOUGH_MEMORY},
        CreateFault{"thread_record",
                    [] {
                        CallFault<&PlatformSyscalls::calloc> f;
                        return CreateThread(nullptr, 0, note_run, nullptr, 0, nullptr) == nullptr;
                    },
                    ERROR_NOT_ENOUGH_MEMORY},
        CreateFault{"thread_start",
                    [] {
                        CallFault<&PlatformSyscalls::pthread_create> f;
                        return CreateThread(nullptr, 0, note_run, nullptr, 0, nullptr) == nullptr;
                    },
                    ERROR_NOT_ENOUGH_MEMORY}),
    [](const auto& info) { return std::string(info.param.name); });
