// Line settings: DCB over termios, time-outs, modem lines on a pty.
#include <asm/termbits.h>
#include <string.h>

#include <functional>
#include <vector>

#include "platform/posix/comm_port.h"
#include "port_fixture.h"

static std::vector<DWORD> divisors_of_115200() {
    std::vector<DWORD> rates;
    for (DWORD d = 1; d <= 115200; d++)
        if (115200 % d == 0) rates.push_back(d);
    return rates;
}

TEST_F(PortTest, EveryDivisorOf115200IsSetAndReadBack) {
    std::vector<DWORD> rates = divisors_of_115200();
    ASSERT_EQ(rates.size(), 90u);
    for (DWORD baud : rates) {
        DCB d = state();
        d.BaudRate = baud;
        ASSERT_TRUE(SetCommState(port, &d)) << baud << " error " << GetLastError();
        EXPECT_EQ(state().BaudRate, baud);
        SlaveTermios t = pty.slave_termios();
        EXPECT_EQ(t.ospeed, baud);
        EXPECT_EQ(t.ispeed, baud);
    }
}

struct DcbRow {
    const char* name;
    std::function<void(DCB&)> change;
    uint32_t cflag_mask;  // termios bits the row must leave on the slave
    uint32_t cflag_want;
};

class DcbRoundTrip : public PortTest, public ::testing::WithParamInterface<DcbRow> {};

// Whatever was set comes back whole, whether termios holds it or the handle.
TEST_P(DcbRoundTrip, GetCommStateReturnsWhatWasSet) {
    DCB d = state();
    GetParam().change(d);
    ASSERT_TRUE(SetCommState(port, &d)) << GetLastError();
    DCB back = state();
    EXPECT_EQ(memcmp(&back, &d, sizeof d), 0);
    EXPECT_EQ(pty.slave_termios().cflag & GetParam().cflag_mask, GetParam().cflag_want);
}

// The slave's cflag shows the bits a pty keeps; its driver forces CS8 and
// clears PARENB, so size and parity enable live in the handle alone there.
INSTANTIATE_TEST_SUITE_P(
    Rows, DcbRoundTrip,
    ::testing::Values(
        DcbRow{"five_bits_one_and_a_half_stop", [](DCB& d) { d.ByteSize = 5; d.StopBits = ONE5STOPBITS; },
               CSTOPB, CSTOPB},
        DcbRow{"six_bits", [](DCB& d) { d.ByteSize = 6; }, CSTOPB, 0},
        DcbRow{"seven_bits_two_stop", [](DCB& d) { d.ByteSize = 7; d.StopBits = TWOSTOPBITS; }, CSTOPB, CSTOPB},
        DcbRow{"odd", [](DCB& d) { d.Parity = ODDPARITY; }, PARODD | CMSPAR, PARODD},
        DcbRow{"even", [](DCB& d) { d.Parity = EVENPARITY; }, PARODD | CMSPAR, 0},
        DcbRow{"mark", [](DCB& d) { d.Parity = MARKPARITY; }, PARODD | CMSPAR, PARODD | CMSPAR},
        DcbRow{"space", [](DCB& d) { d.Parity = SPACEPARITY; }, PARODD | CMSPAR, CMSPAR},
        DcbRow{"cts_rts_handshake",
               [](DCB& d) { d.fOutxCtsFlow = 1; d.fRtsControl = RTS_CONTROL_HANDSHAKE; }, CRTSCTS, CRTSCTS},
        DcbRow{"xon_xoff",
               [](DCB& d) { d.fOutX = 1; d.fInX = 1; d.XonChar = 0x21; d.XoffChar = 0x23; }, 0, 0},
        DcbRow{"parity_check", [](DCB& d) { d.fParity = 1; d.Parity = EVENPARITY; }, PARODD, 0},
        DcbRow{"lines_disabled",
               [](DCB& d) { d.fDtrControl = DTR_CONTROL_DISABLE; d.fRtsControl = RTS_CONTROL_DISABLE; }, 0, 0},
        // A pty has no DTR or RTS line: these modes are kept, with nothing to drive.
        DcbRow{"dtr_handshake_on_pty", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }, 0, 0},
        DcbRow{"rts_toggle_on_pty", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, 0, 0},
        DcbRow{"limits_and_characters",
               [](DCB& d) { d.XonLim = 100; d.XoffLim = 300; d.EofChar = 0x1A; d.EvtChar = 0x7E; d.ErrorChar = 0x3F; },
               0, 0},
        DcbRow{"error_char_nul", [](DCB& d) { d.fErrorChar = 1; d.ErrorChar = 0; }, 0, 0},
        DcbRow{"not_binary_no_continue", [](DCB& d) { d.fBinary = 0; d.fTXContinueOnXoff = 0; }, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

class DcbRefused : public PortTest, public ::testing::WithParamInterface<DcbRow> {};

TEST_P(DcbRefused, FailsWithInvalidParameterAndChangesNothing) {
    DCB before = state();
    SlaveTermios termios_before = pty.slave_termios();
    DCB d = before;
    GetParam().change(d);
    SetLastError(0);
    EXPECT_FALSE(SetCommState(port, &d));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DCB after = state();
    EXPECT_EQ(memcmp(&after, &before, sizeof after), 0);
    EXPECT_EQ(pty.slave_termios().cflag, termios_before.cflag);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DcbRefused,
    ::testing::Values(
        DcbRow{"baud_zero", [](DCB& d) { d.BaudRate = 0; }, 0, 0},
        DcbRow{"four_bits", [](DCB& d) { d.ByteSize = 4; }, 0, 0},
        DcbRow{"nine_bits", [](DCB& d) { d.ByteSize = 9; }, 0, 0},
        DcbRow{"parity_5", [](DCB& d) { d.Parity = 5; }, 0, 0},
        DcbRow{"stop_code_3", [](DCB& d) { d.StopBits = 3; }, 0, 0},
        DcbRow{"one_and_a_half_with_8_bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }, 0, 0},
        DcbRow{"two_with_5_bits", [](DCB& d) { d.ByteSize = 5; d.StopBits = TWOSTOPBITS; }, 0, 0},
        DcbRow{"cts_flow_without_rts_handshake", [](DCB& d) { d.fOutxCtsFlow = 1; }, 0, 0},
        DcbRow{"rts_handshake_without_cts_flow", [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }, 0, 0},
        DcbRow{"dsr_flow", [](DCB& d) { d.fOutxDsrFlow = 1; }, 0, 0},
        DcbRow{"dsr_sensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }, 0, 0},
        DcbRow{"null_stripping", [](DCB& d) { d.fNull = 1; }, 0, 0},
        DcbRow{"abort_on_error", [](DCB& d) { d.fAbortOnError = 1; }, 0, 0},
        DcbRow{"error_char_not_nul", [](DCB& d) { d.fErrorChar = 1; d.ErrorChar = '?'; }, 0, 0},
        DcbRow{"xoff_holds_output", [](DCB& d) { d.fInX = 1; d.fTXContinueOnXoff = 0; }, 0, 0},
        DcbRow{"xon_equals_xoff", [](DCB& d) { d.fOutX = 1; d.XonChar = d.XoffChar = 0x11; }, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A real UART is not at hand: the decision itself, for both kinds of device.
TEST(DcbFeasibility, LineControlModesDependOnTheDeviceTheRestDoesNot) {
    DCB base{};
    base.BaudRate = 9600;
    base.ByteSize = 8;
    base.fBinary = 1;
    base.fTXContinueOnXoff = 1;
    base.fDtrControl = DTR_CONTROL_ENABLE;
    base.fRtsControl = RTS_CONTROL_ENABLE;
    base.XonChar = 0x11;
    base.XoffChar = 0x13;
    struct Row {
        const char* name;
        std::function<void(DCB&)> change;
        bool on_pty;
        bool on_uart;
    };
    const Row rows[] = {
        {"as_opened", [](DCB&) {}, true, true},
        {"dtr_handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }, true, false},
        {"rts_toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, true, false},
        {"cts_rts", [](DCB& d) { d.fOutxCtsFlow = 1; d.fRtsControl = RTS_CONTROL_HANDSHAKE; }, true, true},
        {"dsr_flow", [](DCB& d) { d.fOutxDsrFlow = 1; }, false, false},
        {"mark_parity_5_bits", [](DCB& d) { d.ByteSize = 5; d.Parity = MARKPARITY; }, true, true},
    };
    for (const Row& row : rows) {
        DCB d = base;
        row.change(d);
        EXPECT_EQ(dcb_feasible(&d, true), row.on_pty) << row.name;
        EXPECT_EQ(dcb_feasible(&d, false), row.on_uart) << row.name;
    }
}

TEST_F(PortTest, TimeoutsRoundTripAndTheAllMaxReadCombinationIsRefused) {
    COMMTIMEOUTS set{MAXDWORD, 0, 0, 3, 1000};
    ASSERT_TRUE(SetCommTimeouts(port, &set));
    COMMTIMEOUTS got{};
    ASSERT_TRUE(GetCommTimeouts(port, &got));
    EXPECT_EQ(memcmp(&got, &set, sizeof got), 0);
    COMMTIMEOUTS bad{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(port, &bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(GetCommTimeouts(port, &got));
    EXPECT_EQ(memcmp(&got, &set, sizeof got), 0);
}

// A pty has no modem lines and sends no break.
TEST_F(PortTest, ModemLinesAndBreakAreNotSupportedOnAPty) {
    for (DWORD function : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK}) {
        SetLastError(0);
        EXPECT_FALSE(EscapeCommFunction(port, function)) << function;
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED) << function;
    }
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(port, &status));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(SetCommBreak(port));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(ClearCommBreak(port));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(EscapeCommFunction(port, 77));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PortTest, RtsEscapesAreRefusedWhileRtsIsUnderHandshake) {
    DCB d = state();
    d.fOutxCtsFlow = 1;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(SetCommState(port, &d));
    for (DWORD function : {SETRTS, CLRRTS}) {
        EXPECT_FALSE(EscapeCommFunction(port, function));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}
