// A port opened on a fresh pseudo-terminal, as the serial layer opens it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>

#include "platform/posix/testing.h"
#include "platform/win32.h"
#include "tests/support/process_counts.h"
#include "tests/support/pty_line.h"

using Clock = std::chrono::steady_clock;

inline long ms_since(Clock::time_point since) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

constexpr int TEST_COM = 7;
constexpr DWORD PORT_FLAGS = FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;

inline HANDLE open_com(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, PORT_FLAGS, nullptr);
}

// Members are public so that table rows (lambdas) can reach them.
class PortTest : public ::testing::Test {
public:
    void SetUp() override {
        pty.map_to_com(TEST_COM);
        port = open_com("COM7");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
        for (OVERLAPPED* o : {&ov, &ov2}) o->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        platform_fault_clear_all();
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        for (OVERLAPPED* o : {&ov, &ov2}) CloseHandle(o->hEvent);
    }
    void set_timeouts(DWORD interval, DWORD multiplier, DWORD constant, DWORD write_multiplier = 0,
                      DWORD write_constant = 0) {
        COMMTIMEOUTS t{interval, multiplier, constant, write_multiplier, write_constant};
        ASSERT_TRUE(SetCommTimeouts(port, &t));
    }
    DCB state() {
        DCB d{};
        d.DCBlength = sizeof d;
        EXPECT_TRUE(GetCommState(port, &d));
        return d;
    }
    bool signalled(const OVERLAPPED& o) { return WaitForSingleObject(o.hEvent, 0) == WAIT_OBJECT_0; }

    PtyLine pty{0, true, false};  // the port makes the line raw itself
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED ov{};
    OVERLAPPED ov2{};
};
