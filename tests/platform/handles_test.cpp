// Events, waits, threads and Sleep.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/posix/testing.h"
#include "platform/win32.h"
#include "tests/support/process_counts.h"
#include "tests/support/pty_line.h"

using Clock = std::chrono::steady_clock;

static long elapsed_ms(Clock::time_point since) {
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

struct EventRow {
    const char* name;
    BOOL manual;
    BOOL initial;
    DWORD first_wait;
    DWORD second_wait;
};

class EventStates : public ::testing::TestWithParam<EventRow> {};

TEST_P(EventStates, WaitsSeeTheSignalStateAndAutoResetConsumesIt) {
    const EventRow& row = GetParam();
    HANDLE event = CreateEventA(nullptr, row.manual, row.initial, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), row.first_wait);
    EXPECT_EQ(WaitForSingleObject(event, 0), row.second_wait);
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), row.manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EventStates,
    ::testing::Values(EventRow{"manual_set", TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},
                      EventRow{"manual_clear", TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
                      EventRow{"auto_set", FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT},
                      EventRow{"auto_clear", FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Events, TimedWaitTimesOutNoEarlierThanAsked) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (DWORD ms : {1u, 20u, 80u}) {
        auto start = Clock::now();
        EXPECT_EQ(WaitForSingleObject(event, ms), WAIT_TIMEOUT);
        EXPECT_GE(elapsed_ms(start), (long)ms);
    }
    CloseHandle(event);
}

TEST(Events, SetFromAnotherThreadEndsAnInfiniteWait) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
}

static DWORD return_parameter(LPVOID parameter) { return (DWORD)(uintptr_t)parameter; }

TEST(Handles, StaleForeignAndWrongKindHandlesFailWithInvalidHandle) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, return_parameter, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    HANDLE stale = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(stale));
    int local = 0;
    DWORD code;
    for (HANDLE bad : {stale, (HANDLE) nullptr, INVALID_HANDLE_VALUE, (HANDLE)&local}) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    // The right handle for the wrong service.
    EXPECT_FALSE(GetExitCodeThread(event, &code));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(thread));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DCB dcb{};
    EXPECT_FALSE(GetCommState(event, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(thread);
    CloseHandle(event);
}

struct Gate {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD code = 0;
    bool use_exit_thread = false;
    std::atomic<bool> after_exit{false};
};

static DWORD gated_routine(LPVOID parameter) {
    Gate* gate = static_cast<Gate*>(parameter);
    WaitForSingleObject(gate->release, INFINITE);
    if (gate->use_exit_thread) {
        ExitThread(gate->code);
    }
    return gate->code;
}

class ThreadExit : public ::testing::TestWithParam<bool> {};

TEST_P(ThreadExit, CodeIsStillActiveUntilTheRoutineEndsThenItsResult) {
    Gate gate;
    gate.code = 4242;
    gate.use_exit_thread = GetParam();
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, gated_routine, &gate, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    EXPECT_GE(elapsed_ms(start), 50);
    SetEvent(gate.release);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 4242u);
    EXPECT_TRUE(CloseHandle(thread));
    CloseHandle(gate.release);
}

INSTANTIATE_TEST_SUITE_P(ReturnOrExitThread, ThreadExit, ::testing::Bool());

// Closing before the end detaches, closing after it joins; either way the
// thread and its record go.
TEST(Threads, NothingLeftWhetherTheHandleIsClosedBeforeOrAfterTheEnd) {
    int threads = baseline_thread_count();
    int records = platform_handle_records();
    for (int round = 0; round < 50; round++) {
        Gate gate;
        HANDLE early = CreateThread(nullptr, 0, gated_routine, &gate, 0, nullptr);
        HANDLE late = CreateThread(nullptr, 0, return_parameter, nullptr, 0, nullptr);
        ASSERT_NE(early, nullptr);
        ASSERT_NE(late, nullptr);
        EXPECT_TRUE(CloseHandle(early));
        WaitForSingleObject(late, INFINITE);
        EXPECT_TRUE(CloseHandle(late));
        SetEvent(gate.release);
        // The detached thread still reads the gate: wait for its record to go.
        auto until = Clock::now() + std::chrono::seconds(2);
        while (platform_handle_records() > records + 1 && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        CloseHandle(gate.release);
    }
    EXPECT_EQ(platform_handle_records(), records);
    EXPECT_EQ(settled_count(thread_count, threads), threads);
}

class SleepDuration : public ::testing::TestWithParam<DWORD> {};

TEST_P(SleepDuration, NeverReturnsEarly) {
    DWORD ms = GetParam();
    for (int i = 0; i < 5; i++) {
        auto start = Clock::now();
        Sleep(ms);
        auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        EXPECT_GE(took.count(), (long)ms * 1000);
    }
}

INSTANTIATE_TEST_SUITE_P(Milliseconds, SleepDuration, ::testing::Values(1u, 3u, 10u, 25u));

static void ignore_signal(int) {}

TEST(SleepSignals, SignalsDoNotShortenIt) {
    struct sigaction action = {}, old = {};
    action.sa_handler = ignore_signal;  // no SA_RESTART: the sleep sees EINTR
    sigaction(SIGUSR1, &action, &old);
    std::atomic<bool> done{false};
    long took = 0;
    std::thread sleeper([&] {
        auto start = Clock::now();
        Sleep(200);
        took = elapsed_ms(start);
        done = true;
    });
    pthread_t target = sleeper.native_handle();
    while (!done) {
        pthread_kill(target, SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
    }
    sleeper.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_GE(took, 200);
}
