// Line settings: the DCB over termios2, what is refused, and the modem lines
// and break, which a pty does not have.
#include <string.h>

#include <functional>

#include "platform/posix/port.h"
#include "port_fixture.h"

// The classic speed codes have no 14400 or 28800; the kernel must hold them.
TEST_F(PortTest, OddRatesReachTheDeviceAndReadBack) {
    for (DWORD baud : {14400u, 28800u, 300u, 115200u}) {
        DCB d = state();
        d.BaudRate = baud;
        ASSERT_TRUE(SetCommState(port, &d)) << baud << " error " << GetLastError();
        SlaveTermios t = pty.slave_termios();
        EXPECT_EQ(t.ospeed, baud);
        EXPECT_EQ(t.ispeed, baud);
        EXPECT_EQ(state().BaudRate, baud);
    }
}

struct DcbRow {
    const char* name;
    std::function<void(DCB&)> change;
};

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
        DcbRow{"baud_zero", [](DCB& d) { d.BaudRate = 0; }},
        DcbRow{"four_bits", [](DCB& d) { d.ByteSize = 4; }},
        DcbRow{"nine_bits", [](DCB& d) { d.ByteSize = 9; }},
        DcbRow{"parity_5", [](DCB& d) { d.Parity = 5; }},
        DcbRow{"stop_code_3", [](DCB& d) { d.StopBits = 3; }},
        DcbRow{"one_and_a_half_with_8_bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        DcbRow{"two_with_5_bits", [](DCB& d) { d.ByteSize = 5; d.StopBits = TWOSTOPBITS; }},
        DcbRow{"cts_flow_without_rts_handshake", [](DCB& d) { d.fOutxCtsFlow = 1; }},
        DcbRow{"rts_handshake_without_cts_flow", [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; }},
        DcbRow{"xon_xoff_out", [](DCB& d) { d.fOutX = 1; }},
        DcbRow{"xon_xoff_in", [](DCB& d) { d.fInX = 1; }},
        DcbRow{"dsr_flow", [](DCB& d) { d.fOutxDsrFlow = 1; }},
        DcbRow{"dsr_sensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }},
        DcbRow{"null_stripping", [](DCB& d) { d.fNull = 1; }},
        DcbRow{"abort_on_error", [](DCB& d) { d.fAbortOnError = 1; }},
        DcbRow{"error_char_not_nul", [](DCB& d) { d.fErrorChar = 1; d.ErrorChar = '?'; }}),
    [](const auto& info) { return std::string(info.param.name); });

// A real port is not at hand here: the decision itself, for both kinds.
TEST(DcbFeasibility, LineControlModesAreRefusedOnRealPortsOnly) {
    DCB base{};
    base.BaudRate = 9600;
    base.ByteSize = 8;
    base.fDtrControl = DTR_CONTROL_ENABLE;
    base.fRtsControl = RTS_CONTROL_ENABLE;
    const DcbRow rows[] = {{"dtr_handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }},
                           {"rts_toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }}};
    EXPECT_TRUE(dcb_feasible(&base, false));
    for (const DcbRow& row : rows) {
        DCB d = base;
        row.change(d);
        EXPECT_TRUE(dcb_feasible(&d, true)) << row.name;
        EXPECT_FALSE(dcb_feasible(&d, false)) << row.name;
    }
}

struct EscapeRow {
    const char* name;
    std::function<void(DCB&)> mode;
    DWORD function;
};

class Escapes : public PortTest, public ::testing::WithParamInterface<EscapeRow> {};

// A line under handshake belongs to the driver.
TEST_P(Escapes, AreRefusedWithInvalidParameter) {
    DCB d = state();
    GetParam().mode(d);
    ASSERT_TRUE(SetCommState(port, &d)) << GetLastError();
    SetLastError(0);
    EXPECT_FALSE(EscapeCommFunction(port, GetParam().function));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

static void rts_handshake(DCB& d) {
    d.fOutxCtsFlow = 1;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Escapes,
    ::testing::Values(
        EscapeRow{"setrts_under_handshake", rts_handshake, SETRTS},
        EscapeRow{"clrrts_under_handshake", rts_handshake, CLRRTS},
        EscapeRow{"setrts_under_toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, SETRTS},
        EscapeRow{"clrdtr_under_handshake", [](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }, CLRDTR},
        EscapeRow{"unknown_function", [](DCB&) {}, 77}),
    [](const auto& info) { return std::string(info.param.name); });

// A pty has no modem lines and sends no break; software flow is never on.
TEST_F(PortTest, LinesBreakAndModemStatusAreNotSupportedOnAPty) {
    for (DWORD function : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXOFF, SETXON}) {
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
}
