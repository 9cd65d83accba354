#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <functional>
#include <string>
#include <vector>

#include "serial/serial.h"
#include "tests/support/pty_line.h"
#include "tests/support/syscall_faults.h"

namespace {

class SerialConfig : public testing::Test {
  protected:
    void SetUp() override {
        spi = SerialOpen(line.comnr);
        ASSERT_NE(spi, nullptr);
    }
    void TearDown() override { SerialClose(spi); }
    DCB state() {
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        EXPECT_TRUE(GetCommState(spi->hComm, &dcb));
        return dcb;
    }
    PtyLine line{4};
    SerialPortInfo* spi = nullptr;
};

TEST_F(SerialConfig, OpenAppliesDefaults) {
    DCB dcb = state();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fRtsControl, (DWORD)RTS_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fDtrControl, (DWORD)DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fBinary, 1u);
    COMMTIMEOUTS t = {};
    ASSERT_TRUE(GetCommTimeouts(spi->hComm, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(spi->comnr, 4);
    // The mask waits for received bytes.
    ASSERT_TRUE(SerialWaitEvent(spi));
    line.write({0x01});
    EXPECT_EQ(SerialGetEvent(spi, 1), (DWORD)EV_RXCHAR);
}

class AcceptedBaud : public SerialConfig, public testing::WithParamInterface<DWORD> {};

TEST_P(AcceptedBaud, IsSetAndKept) {
    EXPECT_TRUE(SerialSetBaudrate(spi, GetParam()));
    EXPECT_EQ(state().BaudRate, GetParam());
    EXPECT_EQ(spi->dwLastError, 0u);
}

INSTANTIATE_TEST_SUITE_P(DivisorsOf115200, AcceptedBaud,
                         testing::Values(300, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400,
                                         57600, 115200));

class RefusedBaud : public SerialConfig, public testing::WithParamInterface<DWORD> {};

TEST_P(RefusedBaud, StopsTheProcess) {
    EXPECT_EXIT(SerialSetBaudrate(spi, GetParam()), testing::ExitedWithCode(1),
                "ASSERTION FAILED: '!\"Fatal Error: Illegal baudrate\"': serial_config.cpp [0-9]+\n");
}

INSTANTIATE_TEST_SUITE_P(NotDivisors, RefusedBaud, testing::Values(110, 56000, 128000, 0));

TEST_F(SerialConfig, FormatSetsFieldsAndKeepsTheRest) {
    DCB before = state();
    ASSERT_TRUE(SerialSetFormat(spi, EVENPARITY, 7, TWOSTOPBITS));
    DCB dcb = state();
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.XonLim, before.XonLim);
    EXPECT_EQ(dcb.XoffChar, before.XoffChar);
    EXPECT_EQ(dcb.BaudRate, before.BaudRate);
}

TEST_F(SerialConfig, HandshakeModes) {
    ASSERT_TRUE(SerialSetHandshake(spi, 1));
    EXPECT_EQ(state().fOutxCtsFlow, 1u);
    EXPECT_EQ(state().fRtsControl, (DWORD)RTS_CONTROL_HANDSHAKE);
    ASSERT_TRUE(SerialSetHandshake(spi, 0));
    EXPECT_EQ(state().fOutxCtsFlow, 0u);
    EXPECT_EQ(state().fRtsControl, (DWORD)RTS_CONTROL_ENABLE);
    EXPECT_EQ(state().fTXContinueOnXoff, 1u);
}

TEST_F(SerialConfig, UnknownHandshakeStopsAfterSuccessfulRead) {
    EXPECT_EXIT(SerialSetHandshake(spi, 2), testing::ExitedWithCode(1),
                "'!\"Fatal Error: Unknown parameter!\"': serial_config.cpp");
}

TEST_F(SerialConfig, UnknownHandshakeWithUnreadableStateOnlyFails) {
    IoctlFault unreadable(TCGETS2, EIO, 0, 1);
    EXPECT_FALSE(SerialSetHandshake(spi, 7));
    EXPECT_EQ(spi->dwLastError, ERROR_GEN_FAILURE);
}

// Every read-modify-write call writes nothing when the read fails.
TEST_F(SerialConfig, FailedReadWritesNothing) {
    std::vector<std::function<BOOL()>> calls = {
        [&] { return SerialSetBaudrate(spi, 300); },
        [&] { return SerialSetFormat(spi, ODDPARITY, 7, TWOSTOPBITS); },
        [&] { return SerialSetHandshake(spi, 1); },
    };
    DCB before = state();
    for (auto& call : calls) {
        // Only the read fails: a write let through would succeed and show.
        IoctlFault unreadable(TCGETS2, EBADF, 0, 1);
        EXPECT_FALSE(call());
        EXPECT_EQ(spi->dwLastError, ERROR_INVALID_HANDLE);
    }
    DCB after = state();
    EXPECT_EQ(after.BaudRate, before.BaudRate);
    EXPECT_EQ(after.Parity, before.Parity);
    EXPECT_EQ(after.ByteSize, before.ByteSize);
    EXPECT_EQ(after.fRtsControl, before.fRtsControl);
}

TEST_F(SerialConfig, TimeoutsKeepTheOtherDirection) {
    ASSERT_TRUE(SerialSetReadTimeouts(spi, 10, 20, 30));
    ASSERT_TRUE(SerialSetWriteTimeouts(spi, 40, 50));
    COMMTIMEOUTS t = {};
    ASSERT_TRUE(GetCommTimeouts(spi->hComm, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 10u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 20u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 30u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 40u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 50u);
}

TEST_F(SerialConfig, RefusedCallKeepsItsCode) {
    EXPECT_FALSE(SerialSetMask(spi, 0x80000000));  // no such event
    EXPECT_EQ(spi->dwLastError, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(SerialSetMask(spi, EV_RXCHAR));
    EXPECT_EQ(spi->dwLastError, 0u);
}

struct EscapeRow {
    int handshake;          // SerialSetHandshake mode
    DWORD dtr_control;      // forced through SetCommState
    DWORD function;
};

class EscapeGuard : public SerialConfig, public testing::WithParamInterface<EscapeRow> {};

TEST_P(EscapeGuard, LineUnderHandshakeIsRefusedQuietly) {
    const EscapeRow& row = GetParam();
    SerialSetHandshake(spi, row.handshake);
    DCB dcb = state();
    dcb.fDtrControl = row.dtr_control;
    ASSERT_TRUE(SetCommState(spi->hComm, &dcb));
    // Were the escape let through, the port would refuse it with a code.
    EXPECT_FALSE(SerialEscape(spi, row.function));
    EXPECT_EQ(spi->dwLastError, 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, EscapeGuard,
                         testing::Values(EscapeRow{1, DTR_CONTROL_ENABLE, SETRTS},
                                         EscapeRow{1, DTR_CONTROL_ENABLE, CLRRTS},
                                         EscapeRow{0, DTR_CONTROL_HANDSHAKE, SETDTR},
                                         EscapeRow{0, DTR_CONTROL_HANDSHAKE, CLRDTR}));

TEST_F(SerialConfig, EscapeOnFreeLineReachesTheDriver) {
    IoctlFault set_line(TIOCMBIS, EIO, 0, 1);
    EXPECT_FALSE(SerialEscape(spi, SETRTS));
    EXPECT_EQ(set_line.fired(), 1);
    EXPECT_EQ(spi->dwLastError, ERROR_GEN_FAILURE);
}

TEST_F(SerialConfig, EscapeNeverActsOnUnreadSettings) {
    // Were the escape let through, its refusal would overwrite the code.
    IoctlFault unreadable(TCGETS2, EBADF, 0, 1);
    EXPECT_FALSE(SerialEscape(spi, SETDTR));
    EXPECT_EQ(spi->dwLastError, ERROR_INVALID_HANDLE);
}

DWORD WINAPI idle_routine(LPVOID) { return 7; }

TEST_F(SerialConfig, SecondReaderIsRefusedWith183) {
    ASSERT_TRUE(SerialStartCommThread(spi, idle_routine, nullptr));
    HANDLE first = spi->hThread;
    EXPECT_FALSE(SerialStartCommThread(spi, idle_routine, nullptr));
    EXPECT_EQ(spi->dwLastError, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(spi->hThread, first);
    EXPECT_EQ(SerialStopCommThread(spi), 7u);
    EXPECT_EQ(spi->hThread, nullptr);
    EXPECT_EQ(spi->dwThreadId, 0u);
}

TEST_F(SerialConfig, StoppingWithoutReaderReturnsZeroAtOnce) {
    EXPECT_EQ(SerialStopCommThread(spi), 0u);
    EXPECT_EQ(spi->hThread, nullptr);
}

TEST_F(SerialConfig, ReadOfEmptyQueueWithoutWholeDoesNotRead) {
    TtyFault<&PlatformSyscalls::read> failing_read(EIO, 0, 1);
    uint8_t buf[10];
    EXPECT_EQ(SerialRead(spi, buf, 10, 0), 0);
    EXPECT_EQ(failing_read.fired(), 0);
    EXPECT_NE(spi->dwLastError, ERROR_GEN_FAILURE);
}

TEST(SerialOpen, CloseOfNullIsHarmless) { SerialClose(nullptr); }

TEST(SerialOpen, MissingPortGivesNull) {
    setenv("TIVLINK_COM9", "/nonexistent/tty", 1);
    EXPECT_EQ(SerialOpen(9), nullptr);
    unsetenv("TIVLINK_COM9");
}

TEST(SerialOpen, SecondOpenOfSamePortFails) {
    PtyLine line(5);
    SerialPortInfo* first = SerialOpen(5);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SerialOpen(5), nullptr);
    SerialClose(first);
    SerialPortInfo* again = SerialOpen(5);
    EXPECT_NE(again, nullptr);
    SerialClose(again);
}

struct FatalRow {
    const char* name;
    std::function<void()> arm_and_open;  // opens COM6 with its fault armed
    const char* report;
};

// The port's record is the first allocation, the serial record the second,
// then the three events.
template <int Skip>
void open_with_calloc_failing() {
    CallFault<&PlatformSyscalls::calloc> fault(Skip);
    SerialOpen(6);
}

class SerialFatal : public testing::TestWithParam<FatalRow> {};

TEST_P(SerialFatal, StopsWithReport) {
    const FatalRow& row = GetParam();
    PtyLine line(6);
    EXPECT_EXIT(row.arm_and_open(), testing::ExitedWithCode(1), row.report);
}

INSTANTIATE_TEST_SUITE_P(
    Resources, SerialFatal,
    testing::Values(
        FatalRow{"record", open_with_calloc_failing<1>,
                 "'spi && \"Fatal Error: Out of memory!\"': serial_open.cpp"},
        FatalRow{"first_event", open_with_calloc_failing<2>,
                 "'spi->olRead.hEvent && spi->olWrite.hEvent && spi->olWait.hEvent'"},
        FatalRow{"last_event", open_with_calloc_failing<4>, "spi->olWait.hEvent'"},
        FatalRow{"thread",
                 [] {
                     SerialPortInfo* port = SerialOpen(6);
                     CallFault<&PlatformSyscalls::pthread_create> fault;
                     if (port) SerialStartCommThread(port, idle_routine, nullptr);
                 },
                 "'spi->hThread': serial_thread.cpp"}),
    [](const testing::TestParamInfo<FatalRow>& info) { return std::string(info.param.name); });

}  // namespace
