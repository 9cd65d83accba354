// A port opened on a fresh pseudo-terminal, as the serial layer opens it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>

#include "platform/win32.h"
#include "tests/support/pty_line.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline long ms_since(Clock::time_point since) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

constexpr int TEST_COM = 7;

inline HANDLE open_com(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Members are public so that table rows (lambdas) can reach them.
class PortTest : public ::testing::Test {
public:
    void SetUp() override {
        pty.map_to_com(TEST_COM);
        port = open_com("COM7");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
        COMMTIMEOUTS at_once{MAXDWORD, 0, 0, 0, 1000};  // the serial layer's
        ASSERT_TRUE(SetCommTimeouts(port, &at_once));
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    }
    DCB state() {
        DCB d{};
        d.DCBlength = sizeof d;
        EXPECT_TRUE(GetCommState(port, &d));
        return d;
    }
    // cbInQue once `want` bytes are queued, or what is queued after 2 s.
    DWORD queued_after(DWORD want) {
        COMSTAT stat{};
        auto until = Clock::now() + 2s;
        do EXPECT_TRUE(ClearCommError(port, nullptr, &stat));
        while (stat.cbInQue < want && Clock::now() < until);
        return stat.cbInQue;
    }
    // Arms the event wait on EV_RXCHAR; it must pend.
    void arm_wait(DWORD* mask) {
        ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
        ASSERT_FALSE(WaitCommEvent(port, mask, &ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    }

    PtyLine pty{0, true, false};  // the port makes the line raw itself
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED ov{};
};
