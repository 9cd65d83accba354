// Threads: the exit code while running and after, and waiting on one; and
// Sleep, which the pauses rest on.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/win32.h"

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
    // How the serial layer stops its reader: poll the code, yielding.
    auto until = Clock::now() + std::chrono::seconds(5);
    while (GetExitCodeThread(thread, &code) && code == STILL_ACTIVE && Clock::now() < until) Sleep(0);
    EXPECT_EQ(code, 4242u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, AnEndlessWaitEndsWithTheThread) {
    released = false;
    HANDLE thread = CreateThread(nullptr, 0, gated_routine, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        released = true;
    });
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    releaser.join();
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, StartFlagsAreNotSupported) {
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, gated_routine, nullptr, 0x4 /* suspended */, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
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
