// The fault seam: each service fails on demand with the armed code and
// does nothing else; I/O faults with 996/997 force the slow paths instead.
#include <string.h>

#include <functional>

#include "port_fixture.h"

TEST(Faults, CreateFailuresLeaveNothingBehind) {
    PtyLine pty{0, true, false};  // the port makes the line raw itself
    pty.map_to_com(TEST_COM);
    int fds = open_fd_count();
    int records = platform_handle_records();
    platform_fault_set(PC_CreateFileA, ERROR_ACCESS_DENIED, 0, 1);
    EXPECT_EQ(open_com("COM7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    platform_fault_set(PC_CreateEventA, ERROR_NOT_ENOUGH_MEMORY, 1, 1);
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    CloseHandle(first);
    static bool ran;
    ran = false;
    platform_fault_set(PC_CreateThread, ERROR_NOT_ENOUGH_MEMORY, 0, 1);
    EXPECT_EQ(CreateThread(nullptr, 0, [](LPVOID) -> DWORD { ran = true; return 0; }, nullptr, 0, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    platform_fault_set(PC_Calloc, 0, 0, 1);
    EXPECT_EQ(tiv_calloc(1, 16), nullptr);
    platform_fault_clear_all();
    Sleep(20);
    EXPECT_FALSE(ran);
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_EQ(platform_handle_records(), records);
}

struct FaultRow {
    const char* name;
    PlatformCall call;
    std::function<void(PortTest&)> prepare;
    std::function<BOOL(PortTest&)> call_it;
    std::function<void(PortTest&)> expect_untouched;
};

class ServiceFaults : public PortTest, public ::testing::WithParamInterface<FaultRow> {};

// Each row: arm the fault, call once, see the code, see that nothing happened.
TEST_P(ServiceFaults, FailWithTheArmedCodeAndDoNothing) {
    const FaultRow& row = GetParam();
    row.prepare(*this);
    platform_fault_set(row.call, ERROR_GEN_FAILURE, 0, 1);
    SetLastError(0);
    EXPECT_FALSE(row.call_it(*this));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    platform_fault_clear_all();
    row.expect_untouched(*this);
}

static DCB read_state(PortTest& t) { return t.state(); }
static void nothing(PortTest&) {}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServiceFaults,
    ::testing::Values(
        FaultRow{"GetCommState", PC_GetCommState, nothing,
                 [](PortTest& t) {
                     DCB d;
                     memset(&d, 0xAB, sizeof d);
                     BOOL r = GetCommState(t.port, &d);
                     EXPECT_EQ(d.BaudRate, 0xABABABABu);
                     return r;
                 },
                 [](PortTest&) {}},
        FaultRow{"SetCommState", PC_SetCommState, nothing,
                 [](PortTest& t) {
                     DCB d = read_state(t);
                     d.BaudRate = 1200;
                     return SetCommState(t.port, &d);
                 },
                 [](PortTest& t) { EXPECT_NE(read_state(t).BaudRate, 1200u); }},
        FaultRow{"SetCommTimeouts", PC_SetCommTimeouts, nothing,
                 [](PortTest& t) {
                     COMMTIMEOUTS c{1, 2, 3, 4, 5};
                     return SetCommTimeouts(t.port, &c);
                 },
                 [](PortTest& t) {
                     COMMTIMEOUTS c{};
                     GetCommTimeouts(t.port, &c);
                     EXPECT_NE(c.WriteTotalTimeoutConstant, 5u);
                 }},
        FaultRow{"SetCommMask_keeps_the_pending_wait", PC_SetCommMask,
                 [](PortTest& t) {
                     static DWORD mask;
                     ASSERT_TRUE(SetCommMask(t.port, EV_RXCHAR));
                     ASSERT_FALSE(WaitCommEvent(t.port, &mask, &t.ov));
                 },
                 [](PortTest& t) { return SetCommMask(t.port, 0); },
                 [](PortTest& t) { EXPECT_FALSE(HasOverlappedIoCompleted(&t.ov)); }},
        FaultRow{"PurgeComm_keeps_the_pending_read", PC_PurgeComm,
                 [](PortTest& t) {
                     static BYTE buffer[4];
                     t.set_timeouts(0, 0, 0);
                     ASSERT_FALSE(ReadFile(t.port, buffer, 4, nullptr, &t.ov));
                 },
                 [](PortTest& t) { return PurgeComm(t.port, PURGE_RXABORT); },
                 [](PortTest& t) { EXPECT_FALSE(HasOverlappedIoCompleted(&t.ov)); }},
        FaultRow{"EscapeCommFunction_does_not_hold_output", PC_EscapeCommFunction, nothing,
                 [](PortTest& t) { return EscapeCommFunction(t.port, SETXOFF); },
                 [](PortTest& t) {
                     DWORD n = 0;
                     EXPECT_TRUE(WriteFile(t.port, "ok", 2, &n, &t.ov));
                 }},
        FaultRow{"ClearCommError", PC_ClearCommError, nothing,
                 [](PortTest& t) {
                     COMSTAT s;
                     memset(&s, 0xAB, sizeof s);
                     BOOL r = ClearCommError(t.port, nullptr, &s);
                     EXPECT_EQ(s.cbInQue, 0xABABABABu);
                     return r;
                 },
                 [](PortTest&) {}},
        FaultRow{"WaitCommEvent_arms_nothing", PC_WaitCommEvent,
                 [](PortTest& t) { ASSERT_TRUE(SetCommMask(t.port, EV_RXCHAR)); },
                 [](PortTest& t) {
                     static DWORD mask;
                     return WaitCommEvent(t.port, &mask, &t.ov);
                 },
                 [](PortTest& t) {
                     DWORD mask = 0;
                     EXPECT_FALSE(WaitCommEvent(t.port, &mask, &t.ov2));
                     EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);  // not "already waiting"
                 }},
        FaultRow{"WriteFile_sends_nothing", PC_WriteFile, nothing,
                 [](PortTest& t) { return WriteFile(t.port, "gone", 4, nullptr, &t.ov); },
                 [](PortTest& t) { EXPECT_TRUE(t.pty.read_until_quiet(std::chrono::milliseconds(100), 4).empty()); }},
        FaultRow{"SetEvent", PC_SetEvent, nothing, [](PortTest& t) { return SetEvent(t.ov.hEvent); },
                 [](PortTest& t) { EXPECT_FALSE(t.signalled(t.ov)); }},
        FaultRow{"CloseHandle_keeps_the_handle", PC_CloseHandle, nothing, [](PortTest& t) { return CloseHandle(t.ov2.hEvent); },
                 [](PortTest& t) { EXPECT_TRUE(SetEvent(t.ov2.hEvent)); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortTest, ReadFaultWithIoPendingStillReadsLater) {
    set_timeouts(MAXDWORD, 0, 0);
    pty.write("abc", 3);
    COMSTAT stat{};
    auto until = Clock::now() + std::chrono::seconds(2);
    do ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    while (stat.cbInQue < 3 && Clock::now() < until);
    platform_fault_set(PC_ReadFile, ERROR_IO_PENDING, 0, 1);
    BYTE buffer[10];
    DWORD n = 0;
    EXPECT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(memcmp(buffer, "abc", 3), 0);
}

TEST_F(PortTest, WriteFaultWithIoPendingStillWritesLater) {
    platform_fault_set(PC_WriteFile, ERROR_IO_PENDING, 0, 1);
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(port, "late", 4, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(pty.read_until_quiet(std::chrono::milliseconds(300), 4), std::vector<uint8_t>({'l', 'a', 't', 'e'}));
}

TEST_F(PortTest, IncompleteFaultLeavesTheResultForTheNextCall) {
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, "done", 4, &n, &ov));
    platform_fault_set(PC_GetOverlappedResult, ERROR_IO_INCOMPLETE, 0, 2);
    for (int i = 0; i < 2; i++) {
        n = 77;
        EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, TRUE));
        EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    }
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(n, 4u);
}

// GetOverlappedResult waits on the OVERLAPPED's event; when that wait fails
// the call fails with its code and the operation stays pending.
TEST_F(PortTest, FailedEventWaitFailsGetOverlappedResult) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD mask = 0, n = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
    platform_fault_set(PC_WaitForSingleObject, ERROR_INVALID_HANDLE, 0, 1);
    SetLastError(0);
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HasOverlappedIoCompleted(&ov));
    pty.write("!", 1);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(mask, EV_RXCHAR);
}

TEST_F(PortTest, WaitFaultWithIoPendingStillCompletes) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    pty.write("q", 1);
    COMSTAT stat{};
    auto until = Clock::now() + std::chrono::seconds(2);
    do ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    while (stat.cbInQue < 1 && Clock::now() < until);
    platform_fault_set(PC_WaitCommEvent, ERROR_IO_PENDING, 0, 1);
    DWORD mask = 0, n = 0;
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(mask, EV_RXCHAR);
}
