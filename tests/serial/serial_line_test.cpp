// The port layer over a real pseudo-terminal: bytes, the reader, time-outs,
// faults in transfers and event waits, and what a thousand cycles leave.
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/ioctl.h>

#include <chrono>
#include <numeric>
#include <vector>

#include "serial/serial.h"
#include "tests/support/process_counts.h"
#include "tests/support/pty_line.h"
#include "tests/support/syscall_faults.h"
#include "tivlink/connection.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

Bytes all_byte_values() {
    Bytes b(256);
    std::iota(b.begin(), b.end(), 0);
    return b;
}

class SerialLine : public testing::Test {
  protected:
    void SetUp() override {
        spi = SerialOpen(line.comnr);
        ASSERT_NE(spi, nullptr);
    }
    void TearDown() override { SerialClose(spi); }
    DWORD queued() {
        COMSTAT stat = {};
        DWORD errors = 0;
        ClearCommError(spi->hComm, &errors, &stat);
        return stat.cbInQue;
    }
    bool wait_queued(DWORD want, std::chrono::milliseconds timeout) {
        auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            if (queued() == want) return true;
            Sleep(2);
        }
        return queued() == want;
    }
    // The reader's exit code once it has ended by itself, within 2 s.
    DWORD reader_exit_code() {
        DWORD code = STILL_ACTIVE;
        auto end = Clock::now() + 2s;
        while (GetExitCodeThread(spi->hThread, &code) && code == STILL_ACTIVE && Clock::now() < end)
            Sleep(1);
        return code;
    }
    PtyLine line{3};
    SerialPortInfo* spi = nullptr;
};

TEST_F(SerialLine, BytesArriveUnchangedAtEveryRate) {
    for (DWORD baud : {300u, 1200u, 9600u, 14400u, 28800u, 57600u, 115200u}) {
        ASSERT_TRUE(SerialSetBaudrate(spi, baud));
        Bytes sent = all_byte_values();
        EXPECT_EQ(SerialWrite(spi, sent.data(), (DWORD)sent.size()), 256) << baud;
        EXPECT_EQ(line.read(256, 2000ms), sent) << baud;
    }
}

TEST_F(SerialLine, WriteOfZeroBytesIsPassedOn) {
    EXPECT_EQ(SerialWrite(spi, "", 0), 0);
    EXPECT_EQ(spi->dwLastError, 0u);
}

TEST_F(SerialLine, ReadWithoutWholeTakesOnlyWhatIsQueued) {
    Bytes sent(250, 0x55);
    line.write(sent);
    ASSERT_TRUE(wait_queued(250, 2000ms));
    uint8_t buf[300];
    EXPECT_EQ(SerialRead(spi, buf, 100, 0), 100);
    EXPECT_EQ(queued(), 150u);
    EXPECT_EQ(SerialRead(spi, buf, 300, 0), 150);
    EXPECT_EQ(SerialRead(spi, buf, 300, 0), 0);
}

TEST_F(SerialLine, ReaderDrainsBurstsAndStopsPromptly) {
    ASSERT_TRUE(SerialSetMask(spi, 0x01FF));
    ASSERT_TRUE(SerialStartCommThread(spi, CommReader, spi));
    for (int burst = 0; burst < 5; burst++) {
        line.write(Bytes(1000 + 37 * burst, (uint8_t)burst));
        EXPECT_TRUE(wait_queued(0, 2000ms)) << "burst " << burst << " left " << queued();
    }
    // Writes between bursts must not disturb it.
    Bytes frame(64, 0x42);
    EXPECT_EQ(SerialWrite(spi, frame.data(), 64), 64);
    line.write(Bytes(300, 1));
    EXPECT_TRUE(wait_queued(0, 2000ms));
    auto start = Clock::now();
    EXPECT_EQ(SerialStopCommThread(spi), 0u);
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_EQ(spi->hThread, nullptr);
}

TEST_F(SerialLine, ReaderTakesAtMostAHundredBytesPerWakeUp) {
    line.write(Bytes(1000, 0x33));
    ASSERT_TRUE(wait_queued(1000, 2000ms));
    // The second wait cannot be armed, so the reader wakes once and ends.
    // Input counts: the first wait, the read's, then the second wait.
    IoctlFault second_wait(FIONREAD, EIO, 2, 1);
    ASSERT_TRUE(SerialSetMask(spi, 0x01FF));
    ASSERT_TRUE(SerialStartCommThread(spi, CommReader, spi));
    EXPECT_EQ(reader_exit_code(), 0u);
    EXPECT_EQ(second_wait.fired(), 1);
    EXPECT_EQ(queued(), 900u);
    SerialStopCommThread(spi);
}

TEST_F(SerialLine, ReaderEndsWhenItsWaitCannotBeArmed) {
    IoctlFault no_wait(FIONREAD, EIO);
    ASSERT_TRUE(SerialStartCommThread(spi, CommReader, spi));
    EXPECT_EQ(reader_exit_code(), 0u);
    auto start = Clock::now();
    SerialStopCommThread(spi);
    EXPECT_LT(Clock::now() - start, 100ms);
}

TEST_F(SerialLine, FailedEventWaitEndsReaderAndRearms) {
    ASSERT_TRUE(SerialWaitEvent(spi));
    // The pending wait fails where it is collected: the reader must end,
    // and a fresh wait is armed on the empty line.
    IoctlFault failing_wait(FIONREAD, EIO, 0, 1);
    EXPECT_EQ(SerialGetEvent(spi, 1), 0u);
    EXPECT_EQ(failing_wait.fired(), 1);
    // Re-armed: a pending wait again, completed by the mask change below.
    EXPECT_EQ(spi->dwLastError, ERROR_IO_PENDING);
    SetCommMask(spi->hComm, 0);
    DWORD ignored;
    EXPECT_TRUE(GetOverlappedResult(spi->hComm, &spi->olWait, &ignored, TRUE));
    EXPECT_EQ(spi->dwEvtMask, 0u);
}

TEST_F(SerialLine, IncompleteEventWaitIsNotRearmed) {
    ASSERT_TRUE(SerialWaitEvent(spi));
    EXPECT_EQ(SerialGetEvent(spi, 0), 0u);  // nothing arrived yet
    line.write({0x01});
    EXPECT_EQ(SerialGetEvent(spi, 1) & EV_RXCHAR, EV_RXCHAR);
}

TEST_F(SerialLine, FailedWriteReturnsNothingAndKeepsCode) {
    TtyFault<&PlatformSyscalls::write> failing_write(EIO, 0, 1);
    Bytes sent(10, 1);
    EXPECT_EQ(SerialWrite(spi, sent.data(), 10), 0);
    EXPECT_EQ(spi->dwLastError, ERROR_GEN_FAILURE);
    EXPECT_EQ(SerialWrite(spi, sent.data(), 10), 10);
}

TEST_F(SerialLine, FailedReadReturnsNothingAndKeepsCode) {
    line.write(Bytes(20, 9));
    ASSERT_TRUE(wait_queued(20, 2000ms));
    uint8_t buf[20];
    {
        TtyFault<&PlatformSyscalls::read> failing_read(EIO, 0, 1);
        EXPECT_EQ(SerialRead(spi, buf, 20, 0), 0);
        EXPECT_EQ(spi->dwLastError, ERROR_GEN_FAILURE);
    }
    EXPECT_EQ(SerialRead(spi, buf, 20, 0), 20);
}

TEST_F(SerialLine, StalledLineCutsWriteShortAfterOneSecond) {
    // Nobody reads the master: the line fills, and one write must give up.
    Bytes chunk(990, 0x33);
    std::vector<int32_t> counts;
    Clock::duration short_took{};
    for (int i = 0; i < 400; i++) {
        auto start = Clock::now();
        int32_t n = SerialWrite(spi, chunk.data(), (DWORD)chunk.size());
        counts.push_back(n);
        if (n != (int32_t)chunk.size()) {
            short_took = Clock::now() - start;
            break;
        }
    }
    ASSERT_LT(counts.back(), 990) << "the line never stalled";
    EXPECT_GE(short_took, 1000ms);
    EXPECT_LT(short_took, 1500ms);
    // What the writes reported is exactly what the line carried.
    size_t reported = 0;
    for (int32_t n : counts) reported += n;
    Bytes carried = line.read_until_quiet(300ms);
    EXPECT_EQ(carried.size(), reported);
    // The next write starts clean.
    Bytes next = all_byte_values();
    EXPECT_EQ(SerialWrite(spi, next.data(), 256), 256);
    EXPECT_EQ(line.read(256, 2000ms), next);
}

TEST(SerialCycles, ThousandOpenCloseCyclesLeakNothing) {
    PtyLine line(7);
    auto cycle = [] {
        SerialPortInfo* port = SerialOpen(7);
        ASSERT_NE(port, nullptr);
        SerialSetMask(port, 0x01FF);
        ASSERT_TRUE(SerialStartCommThread(port, CommReader, port));
        SerialClose(port);
    };
    for (int i = 0; i < 10; i++) cycle();  // settle lazily created runtime state
    const int fds = open_fd_count();
    const int threads = baseline_thread_count();
    size_t heap_before = mallinfo2().uordblks;
    for (int i = 0; i < 1000; i++) {
        cycle();
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(open_fd_count(), fds);
    EXPECT_EQ(settled_count(thread_count, threads), threads);
    EXPECT_LT(mallinfo2().uordblks, heap_before + 4096);
}

}  // namespace
