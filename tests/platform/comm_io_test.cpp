// Transfers, time-outs, event waits and purges over a pseudo-terminal.
#include <time.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "port_fixture.h"

static std::vector<uint8_t> every_byte_value(int rounds) {
    std::vector<uint8_t> bytes(256 * rounds);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (uint8_t)i;
    return bytes;
}

TEST_F(PortTest, WrittenBytesArriveUnchanged) {
    std::vector<uint8_t> bytes = every_byte_value(2);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(port, bytes.data(), (DWORD)bytes.size(), &n, &ov)) << GetLastError();
    EXPECT_EQ(n, bytes.size());
    EXPECT_TRUE(signalled(ov));
    EXPECT_EQ(pty.read_until_quiet(std::chrono::milliseconds(300), bytes.size()), bytes);
}

TEST_F(PortTest, ReceivedBytesArriveUnchanged) {
    std::vector<uint8_t> bytes = every_byte_value(2);
    set_timeouts(0, 0, 2000);
    pty.write(bytes.data(), bytes.size());
    std::vector<uint8_t> got(bytes.size());
    DWORD n = 0;
    if (!ReadFile(port, got.data(), (DWORD)got.size(), &n, &ov)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
        ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    }
    ASSERT_EQ(n, bytes.size());
    EXPECT_EQ(got, bytes);
}

// The pty takes a few KB; with the far end not reading, the rest cannot go.
TEST_F(PortTest, StalledWriteCompletesShortAtItsTimeoutAndTheNextStartsClean) {
    set_timeouts(MAXDWORD, 0, 0, 0, 1000);
    std::vector<uint8_t> first(65536);
    for (size_t i = 0; i < first.size(); i++) first[i] = (uint8_t)(i * 7 + 1);
    DWORD n = 0;
    auto start = Clock::now();
    ASSERT_FALSE(WriteFile(port, first.data(), (DWORD)first.size(), &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE)) << GetLastError();
    long took = ms_since(start);
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 1200);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, first.size());
    RecordProperty("write_timeout_ms", (int)took);
    // Exactly the reported bytes went out, and nothing of the rest follows.
    std::vector<uint8_t> arrived = pty.read_until_quiet(std::chrono::milliseconds(200), first.size());
    ASSERT_EQ(arrived.size(), n);
    EXPECT_TRUE(std::equal(arrived.begin(), arrived.end(), first.begin()));
    std::vector<uint8_t> second = {'n', 'e', 'x', 't'};
    ASSERT_TRUE(WriteFile(port, second.data(), (DWORD)second.size(), &n, &ov2));
    EXPECT_EQ(n, second.size());
    EXPECT_EQ(pty.read_until_quiet(std::chrono::milliseconds(200), 100), second);
}

struct WriteTimeoutRow {
    DWORD multiplier;
    DWORD constant;
    DWORD count;
    long expect_ms;
};

class HeldWriteTimeouts : public PortTest, public ::testing::WithParamInterface<WriteTimeoutRow> {};

// With output held by XOFF nothing goes out: the write ends empty at
// multiplier x count + constant.
TEST_P(HeldWriteTimeouts, CompleteEmptyAtMultiplierTimesCountPlusConstant) {
    const WriteTimeoutRow& row = GetParam();
    set_timeouts(MAXDWORD, 0, 0, row.multiplier, row.constant);
    ASSERT_TRUE(EscapeCommFunction(port, SETXOFF));
    std::vector<uint8_t> bytes(row.count, 0x55);
    DWORD n = 99;
    auto start = Clock::now();
    ASSERT_FALSE(WriteFile(port, bytes.data(), row.count, &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    long took = ms_since(start);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(took, row.expect_ms);
    EXPECT_LT(took, row.expect_ms + 150);
    ASSERT_TRUE(EscapeCommFunction(port, SETXON));
    EXPECT_TRUE(pty.read_until_quiet(std::chrono::milliseconds(100), row.count).empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, HeldWriteTimeouts,
                         ::testing::Values(WriteTimeoutRow{0, 250, 10, 250}, WriteTimeoutRow{2, 100, 100, 300},
                                           WriteTimeoutRow{5, 0, 40, 200}));

TEST_F(PortTest, ReadAtOnceReturnsWhatIsQueuedEvenNothingAndSignals) {
    set_timeouts(MAXDWORD, 0, 0);
    BYTE buffer[100];
    DWORD n = 99;
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &n, &ov));
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(signalled(ov));
    pty.write("hello", 5);
    DWORD queued = 0;
    COMSTAT stat{};
    auto until = Clock::now() + std::chrono::seconds(2);
    while (queued < 5 && Clock::now() < until) {
        ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
        queued = stat.cbInQue;
    }
    ASSERT_EQ(queued, 5u);
    ResetEvent(ov.hEvent);
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &n, &ov));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(memcmp(buffer, "hello", 5), 0);
    EXPECT_TRUE(signalled(ov));
}

struct ReadTimeoutRow {
    const char* name;
    COMMTIMEOUTS timeouts;
    DWORD count;
    int send;      // bytes the far end sends
    int send_at;   // ms after the read starts
    DWORD expect;  // bytes read
    long min_ms;
    long max_ms;
};

class ReadTimeouts : public PortTest, public ::testing::WithParamInterface<ReadTimeoutRow> {};

TEST_P(ReadTimeouts, EndAsTheTimeoutsSay) {
    const ReadTimeoutRow& row = GetParam();
    COMMTIMEOUTS t = row.timeouts;
    ASSERT_TRUE(SetCommTimeouts(port, &t));
    std::vector<uint8_t> buffer(row.count);
    DWORD n = 0;
    auto start = Clock::now();
    ASSERT_FALSE(ReadFile(port, buffer.data(), row.count, &n, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(row.send_at));
        std::vector<uint8_t> bytes(row.send, 0xA5);
        if (row.send) pty.write(bytes.data(), bytes.size());
    });
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    long took = ms_since(start);
    sender.join();
    EXPECT_EQ(n, row.expect);
    EXPECT_GE(took, row.min_ms);
    EXPECT_LT(took, row.max_ms);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadTimeouts,
    ::testing::Values(
        ReadTimeoutRow{"first_byte_returns", {MAXDWORD, MAXDWORD, 1000, 0, 0}, 50, 3, 100, 3, 100, 600},
        ReadTimeoutRow{"first_byte_times_out", {MAXDWORD, MAXDWORD, 200, 0, 0}, 50, 0, 0, 0, 200, 400},
        ReadTimeoutRow{"total_times_out_short", {0, 0, 300, 0, 0}, 10, 4, 50, 4, 300, 500},
        ReadTimeoutRow{"total_with_multiplier", {0, 10, 100, 0, 0}, 20, 0, 0, 0, 300, 500},
        ReadTimeoutRow{"interval_after_burst", {80, 0, 0, 0, 0}, 100, 10, 50, 10, 130, 400},
        ReadTimeoutRow{"no_timeouts_until_full", {0, 0, 0, 0, 0}, 10, 10, 100, 10, 100, 600}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortTest, WaitCompletesOnReceivedCharacters) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_TXEMPTY));
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 100), WAIT_TIMEOUT);
    pty.write("x", 1);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 2000), WAIT_OBJECT_0);
    DWORD n = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, FALSE));
    EXPECT_EQ(mask, EV_RXCHAR);
}

// Level-triggered: a reader taking at most 100 bytes per wake-up is woken
// until the queue is empty.
TEST_F(PortTest, ReceivedCharactersKeepTheWaitCompletingUntilAllAreRead) {
    set_timeouts(MAXDWORD, 0, 0);
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    std::vector<uint8_t> sent = every_byte_value(1);
    sent.resize(250);
    pty.write(sent.data(), sent.size());
    std::vector<uint8_t> got;
    for (int wake = 0; wake < 20 && got.size() < sent.size(); wake++) {
        DWORD mask = 0, n = 0;
        if (!WaitCommEvent(port, &mask, &ov)) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
            ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
        }
        ASSERT_EQ(mask, EV_RXCHAR);
        COMSTAT stat{};
        ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
        BYTE buffer[100];
        DWORD take = stat.cbInQue < 100 ? stat.cbInQue : 100;
        ASSERT_TRUE(ReadFile(port, buffer, take, &n, &ov2));
        got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_EQ(got, sent);
    DWORD mask = 0;
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
}

TEST_F(PortTest, WaitCompletesWhenTheTransmitQueueRunsEmpty) {
    ASSERT_TRUE(SetCommMask(port, EV_TXEMPTY));
    DWORD mask = 0, n = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
    ASSERT_TRUE(EscapeCommFunction(port, SETXOFF));
    ASSERT_FALSE(WriteFile(port, "abc", 3, &n, &ov2));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    // Held output: the queue is not empty yet.
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 100), WAIT_TIMEOUT);
    ASSERT_TRUE(EscapeCommFunction(port, SETXON));
    ASSERT_TRUE(GetOverlappedResult(port, &ov2, &n, TRUE));
    EXPECT_EQ(n, 3u);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(mask, EV_TXEMPTY);
}

TEST_F(PortTest, SetCommMaskFromAnotherThreadEndsThePendingWaitWithAnEmptyMask) {
    ASSERT_TRUE(SetCommMask(port, 0x01FF));
    DWORD mask = 0xFFFF, n = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SetCommMask(port, 0);
    });
    EXPECT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    stopper.join();
    EXPECT_EQ(mask, 0u);
    // With an empty mask there is nothing to wait for.
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PortTest, OnlyOneWaitAtATime) {
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD mask = 0, other = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
    EXPECT_FALSE(WaitCommEvent(port, &other, &ov2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(HasOverlappedIoCompleted(&ov));
}

TEST_F(PortTest, PurgeAbortsPendingReadAndWriteAndClearsTheInput) {
    set_timeouts(0, 0, 0);
    BYTE buffer[10];
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &ov));
    ASSERT_TRUE(EscapeCommFunction(port, SETXOFF));
    ASSERT_FALSE(WriteFile(port, "held", 4, &n, &ov2));
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbOutQue, 4u);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 50), WAIT_TIMEOUT);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT));
    for (OVERLAPPED* o : {&ov, &ov2}) {
        SetLastError(0);
        EXPECT_FALSE(GetOverlappedResult(port, o, &n, TRUE));
        EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
        EXPECT_EQ(n, 0u);
    }
    ASSERT_TRUE(EscapeCommFunction(port, SETXON));
    pty.write("0123456789", 10);
    auto until = Clock::now() + std::chrono::seconds(2);
    do ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    while (stat.cbInQue < 10 && Clock::now() < until);
    ASSERT_EQ(stat.cbInQue, 10u);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(port, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_FALSE(PurgeComm(port, 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PortTest, GetOverlappedResultWithoutWaitOnAPendingOperationIsIncomplete) {
    set_timeouts(0, 0, 0);
    BYTE buffer[4];
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &ov));
    SetLastError(0);
    EXPECT_FALSE(GetOverlappedResult(port, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    pty.write("abcd", 4);
    ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
    EXPECT_EQ(n, 4u);
}

TEST_F(PortTest, OverlappedBlockWithoutEventAndNullBlockWork) {
    set_timeouts(0, 0, 0);
    OVERLAPPED bare{};
    BYTE buffer[3];
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &bare));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    pty.write("xyz", 3);
    ASSERT_TRUE(GetOverlappedResult(port, &bare, &n, TRUE));
    EXPECT_EQ(n, 3u);
    // No OVERLAPPED: the call itself waits for completion.
    ASSERT_TRUE(WriteFile(port, "sync", 4, &n, nullptr));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(pty.read_until_quiet(std::chrono::milliseconds(300), 4), std::vector<uint8_t>({'s', 'y', 'n', 'c'}));
}

TEST_F(PortTest, HandleOpenedWithoutOverlappedWaitsInTheCall) {
    ASSERT_TRUE(CloseHandle(port));
    port = CreateFileA("COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    set_timeouts(0, 0, 150);
    BYTE buffer[8];
    DWORD n = 99;
    auto start = Clock::now();
    EXPECT_TRUE(ReadFile(port, buffer, sizeof buffer, &n, &ov));
    EXPECT_GE(ms_since(start), 150);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(signalled(ov));
}

static double process_cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// An idle port with a pending wait sleeps: no polling, no periodic wake-up.
TEST_F(PortTest, PendingWaitOnAnIdlePortCostsNoCpu) {
    ASSERT_TRUE(SetCommMask(port, 0x01FF));
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
    double before = process_cpu_ms();
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 1000), WAIT_TIMEOUT);
    double used = process_cpu_ms() - before;
    EXPECT_LT(used, 1.0);
    RecordProperty("idle_cpu_us", (int)(used * 1000));
}

// The far end going away fails what is pending and what comes after, and
// the hang-up, which poll() keeps reporting, does not make the I/O thread spin.
TEST_F(PortTest, HangUpFailsPendingAndLaterOperationsWithoutSpinning) {
    set_timeouts(0, 0, 0);
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    DWORD mask = 0, n = 0;
    BYTE buffer[4];
    ASSERT_FALSE(WaitCommEvent(port, &mask, &ov));
    ASSERT_FALSE(ReadFile(port, buffer, sizeof buffer, &n, &ov2));
    pty.close_master();
    for (OVERLAPPED* o : {&ov, &ov2}) {
        SetLastError(0);
        EXPECT_FALSE(GetOverlappedResult(port, o, &n, TRUE));
        EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    }
    double before = process_cpu_ms();
    Sleep(300);
    EXPECT_LT(process_cpu_ms() - before, 5.0);
    EXPECT_FALSE(WriteFile(port, "x", 1, &n, &ov));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_FALSE(WaitCommEvent(port, &mask, &ov));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
}

// The library's pattern: one thread writes through its OVERLAPPED while a
// reader waits and reads through others on the same handle.
TEST_F(PortTest, WriterAndReaderThreadsShareThePort) {
    set_timeouts(MAXDWORD, 0, 0, 0, 1000);
    ASSERT_TRUE(SetCommMask(port, 0x01FF));
    std::atomic<bool> echo_run{true};
    std::thread echo([&] {
        while (echo_run) {
            std::vector<uint8_t> got = pty.read_until_quiet(std::chrono::milliseconds(20), 4096);
            if (!got.empty()) pty.write(got.data(), got.size());
        }
    });
    std::atomic<size_t> drained{0};
    std::thread reader([&] {
        OVERLAPPED wait{}, read{};
        wait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        for (;;) {
            DWORD mask = 0, n = 0;
            if (!WaitCommEvent(port, &mask, &wait) && GetLastError() != ERROR_IO_PENDING) break;
            if (!GetOverlappedResult(port, &wait, &n, TRUE) || mask == 0) break;
            if (!(mask & EV_RXCHAR)) continue;
            COMSTAT stat{};
            ClearCommError(port, nullptr, &stat);
            BYTE buffer[100];
            DWORD take = stat.cbInQue < 100 ? stat.cbInQue : 100;
            if (take && ReadFile(port, buffer, take, &n, &read)) drained += n;
        }
        CloseHandle(wait.hEvent);
        CloseHandle(read.hEvent);
    });
    size_t written = 0;
    for (int frame = 0; frame < 300; frame++) {
        BYTE bytes[37];
        for (BYTE& b : bytes) b = (BYTE)(frame + (&b - bytes));
        DWORD n = 0;
        if (!WriteFile(port, bytes, sizeof bytes, &n, &ov)) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
            ASSERT_TRUE(GetOverlappedResult(port, &ov, &n, TRUE));
        }
        written += n;
    }
    EXPECT_EQ(written, 300u * 37u);
    auto until = Clock::now() + std::chrono::seconds(5);
    while (drained < written && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(SetCommMask(port, 0));
    reader.join();
    echo_run = false;
    echo.join();
    EXPECT_EQ(drained.load(), written);
}
