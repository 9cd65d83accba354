// Transfers, the write time-out, the event wait and how it ends, the input
// count and purge, over a pseudo-terminal.
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "port_fixture.h"
#include "tests/support/syscall_swap.h"

static std::vector<uint8_t> every_byte_value() {
    std::vector<uint8_t> bytes(256);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (uint8_t)i;
    return bytes;
}

// Complete in the call, overlapped or not, with the OVERLAPPED filled in;
// reads only return what is queued.
TEST_F(PortTest, BytesCrossUnchangedAndTheInputIsCounted) {
    std::vector<uint8_t> bytes = every_byte_value();
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, bytes.data(), (DWORD)bytes.size(), &n, &ov)) << GetLastError();
    EXPECT_EQ(n, bytes.size());
    EXPECT_EQ(ov.InternalHigh, bytes.size());
    EXPECT_EQ(pty.read(bytes.size(), 2000ms), bytes);
    pty.write(bytes);
    ASSERT_EQ(queued_after(256), 256u);
    std::vector<uint8_t> got(300);
    ASSERT_TRUE(ReadFile(port, got.data(), 100, &n, &ov));
    EXPECT_EQ(n, 100u);
    EXPECT_EQ(queued_after(0), 156u);
    ASSERT_TRUE(ReadFile(port, got.data() + 100, 200, &n, nullptr));
    EXPECT_EQ(n, 156u);
    got.resize(256);
    EXPECT_EQ(got, bytes);
    ASSERT_TRUE(ReadFile(port, got.data(), 10, &n, &ov));  // nothing queued: at once, empty
    EXPECT_EQ(n, 0u);
    COMMTIMEOUTS waiting{0, 0, 100, 0, 0};  // reads that would wait are not carried out
    ASSERT_TRUE(SetCommTimeouts(port, &waiting));
    EXPECT_FALSE(ReadFile(port, got.data(), 10, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

// The pty takes a few KB; with the far end not reading, the rest cannot go.
TEST_F(PortTest, StalledWriteCompletesShortAtItsTimeoutAndTheNextStartsClean) {
    std::vector<uint8_t> first(65536);
    for (size_t i = 0; i < first.size(); i++) first[i] = (uint8_t)(i * 7 + 1);
    DWORD n = 0;
    auto start = Clock::now();
    ASSERT_TRUE(WriteFile(port, first.data(), (DWORD)first.size(), &n, &ov)) << GetLastError();
    long took = ms_since(start);
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 1500);
    RecordProperty("write_timeout_ms", (int)took);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, first.size());
    // Exactly the reported bytes went out, and nothing of the rest follows.
    std::vector<uint8_t> arrived = pty.read_until_quiet(200ms, first.size());
    ASSERT_EQ(arrived.size(), n);
    EXPECT_TRUE(std::equal(arrived.begin(), arrived.end(), first.begin()));
    ASSERT_TRUE(WriteFile(port, "next", 4, &n, &ov));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(pty.read_until_quiet(200ms, 100), std::vector<uint8_t>({'n', 'e', 'x', 't'}));
}

TEST_F(PortTest, WaitCompletesWhileReceivedBytesWaitAndOneAtATime) {
    DWORD mask = 0, n = 0, other = 0;
    arm_wait(&mask);
    EXPECT_FALSE(WaitCommEvent(port, &other, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    pty.write("x", 1);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE)) << GetLastError();
    EXPECT_EQ(mask, EV_RXCHAR);
    // Level-triggered: the unread byte completes the next wait at once.
    mask = 0;
    EXPECT_TRUE(WaitCommEvent(port, &mask, &ov));
    EXPECT_EQ(mask, EV_RXCHAR);
}

struct WaitEnd {
    const char* name;
    std::function<void(PortTest&)> act;  // from another thread
    DWORD error;                         // 0: success with an empty mask
};

class WaitEnds : public PortTest, public ::testing::WithParamInterface<WaitEnd> {};

static std::atomic<int> ppoll_calls;
static int counting_ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    ppoll_calls++;
    return platform_syscalls_default.ppoll(fds, count, timeout, mask);
}

// A thread asleep in GetOverlappedResult wakes with the wait's outcome.
TEST_P(WaitEnds, ThreadBlockedInGetOverlappedResultWakes) {
    DWORD mask = 0xDEAD;
    arm_wait(&mask);
    ppoll_calls = 0;
    SyscallSwap<&PlatformSyscalls::ppoll> swap(counting_ppoll);
    std::atomic<BOOL> ok{TRUE};
    std::atomic<DWORD> error{0};
    std::thread waiter([&] {
        DWORD n = 0;
        ok = GetOverlappedResult(port, &ov, &n, TRUE);
        error = ok ? 0 : GetLastError();
    });
    auto until = Clock::now() + 5s;
    while (ppoll_calls == 0 && Clock::now() < until) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    ASSERT_GT(ppoll_calls, 0) << "the waiter never went to sleep";
    auto start = Clock::now();
    GetParam().act(*this);
    waiter.join();
    EXPECT_LT(ms_since(start), 1000);
    EXPECT_EQ(ok, GetParam().error == 0);
    EXPECT_EQ(error, GetParam().error);
    if (GetParam().error == 0) {
        EXPECT_EQ(mask, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WaitEnds,
    ::testing::Values(WaitEnd{"mask_change", [](PortTest& t) { ASSERT_TRUE(SetCommMask(t.port, 0)); }, 0},
                      WaitEnd{"close", [](PortTest& t) {
                                  ASSERT_TRUE(CloseHandle(t.port));
                                  t.port = INVALID_HANDLE_VALUE;
                              }, ERROR_OPERATION_ABORTED},
                      WaitEnd{"hang_up", [](PortTest& t) { t.pty.close_master(); }, ERROR_GEN_FAILURE}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortTest, WithAnEmptyMaskThereIsNothingToWaitFor) {
    DWORD mask = 0;
    ASSERT_TRUE(SetCommMask(port, 0));
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PortTest, PurgeDropsTheReceivedBytes) {
    pty.write("0123456789", 10);
    ASSERT_EQ(queued_after(10), 10u);
    ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_EQ(queued_after(0), 0u);
    pty.write("ab", 2);
    BYTE got[4];
    DWORD n = 0;
    ASSERT_EQ(queued_after(2), 2u);
    ASSERT_TRUE(ReadFile(port, got, sizeof got, &n, &ov));
    EXPECT_EQ(std::string((char*)got, n), "ab");
    EXPECT_FALSE(PurgeComm(port, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
