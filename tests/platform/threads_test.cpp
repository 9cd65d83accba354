// Threads: the exit code while running and after, and waiting on one; and
// Sleep, which the pauses rest on.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32.h"
#include "tests/support/process_counts.h"

using Clock = std::chrono::steady_clock;

static std::atomic<bool> released;

static DWORD gated_routine(LPVOID parameter) {
    while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return (DWORD)(uintptr_t)parameter;
}

TEST(Threads, ExitCodeIsStillActiveUntilTheRoutineReturnsThenItsResult) {
    released = false;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, gated_routine, (LPVOID)4242, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    released = true;
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 4242u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

// How the serial layer stops its reader: poll the exit code, yielding.
TEST(Threads, PollingTheExitCodeWithSleepZeroSeesTheEnd) {
    released = false;
    HANDLE thread = CreateThread(nullptr, 0, gated_routine, (LPVOID)7, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        released = true;
    });
    DWORD code = STILL_ACTIVE;
    auto until = Clock::now() + std::chrono::seconds(5);
    while (GetExitCodeThread(thread, &code) && code == STILL_ACTIVE && Clock::now() < until) Sleep(0);
    releaser.join();
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, StartFlagsAreNotSupported) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, gated_routine, nullptr, 0x4 /* suspended */, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

// Closing before the end detaches, closing after it joins; either way the
// thread goes.
TEST(Threads, NothingLeftWhetherTheHandleIsClosedBeforeOrAfterTheEnd) {
    int threads = baseline_thread_count();
    for (int round = 0; round < 20; round++) {
        released = false;
        HANDLE early = CreateThread(nullptr, 0, gated_routine, nullptr, 0, nullptr);
        ASSERT_NE(early, nullptr);
        EXPECT_TRUE(CloseHandle(early));
        released = true;
        HANDLE late = CreateThread(nullptr, 0, gated_routine, nullptr, 0, nullptr);
        ASSERT_NE(late, nullptr);
        EXPECT_EQ(WaitForSingleObject(late, 5000), WAIT_OBJECT_0);
        EXPECT_TRUE(CloseHandle(late));
    }
    EXPECT_EQ(settled_count(thread_count, threads), threads);
}

static void ignore_signal(int) {}

// Pauses are never short, however often a signal interrupts them.
TEST(Sleep, NeverReturnsEarlyEvenUnderSignals) {
    struct sigaction action = {}, old = {};
    action.sa_handler = ignore_signal;  // no SA_RESTART: the sleep sees EINTR
    sigaction(SIGUSR1, &action, &old);
    for (DWORD ms : {1u, 10u, 100u}) {
        std::atomic<bool> done{false};
        Clock::duration took{};
        std::thread sleeper([&] {
            auto start = Clock::now();
            Sleep(ms);
            took = Clock::now() - start;
            done = true;
        });
        while (!done) {
            pthread_kill(sleeper.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(700));
        }
        sleeper.join();
        EXPECT_GE(took, std::chrono::milliseconds(ms));
    }
    sigaction(SIGUSR1, &old, nullptr);
}
