// Pauses: after a frame, pauses that follow one another count from when the
// previous one was due, so a late wake-up is not paid twice; a frame,
// closing, or another thread start afresh. The caller's timer slack survives.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <chrono>
#include <thread>

#include "tivlink/connection.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

TEST(PauseRun, StartsFromNowUntilAPauseIsNotedAndAgainAfterTheRunEnds) {
    tiv_pause_run_end();
    EXPECT_EQ(pause_run_start(1000), 1000);
    pause_run_note(900);
    EXPECT_EQ(pause_run_start(1000), 900);
    EXPECT_EQ(pause_run_start(5000), 900);
    tiv_pause_run_end();
    EXPECT_EQ(pause_run_start(5000), 5000);
}

// A pause that comes 40 ms late into its run (the thread was held up) ends
// when the run is due, not a full pause after its own start.
TEST(PauseRun, ALateStartIsTakenFromTheNextPause) {
    tiv_pause_run_end();
    auto start = Clock::now();
    tiv_pause(10);
    std::this_thread::sleep_for(40ms);
    tiv_pause(50);
    double took = ms_since(start);
    EXPECT_GE(took, 60);
    EXPECT_LT(took, 100);  // a fresh 50 ms pause would end at 100 at the earliest
}

TEST(PauseRun, AfterTheRunEndsEveryPauseIsWholeFromItsOwnStart) {
    tiv_pause_run_end();
    tiv_pause(10);
    std::this_thread::sleep_for(40ms);
    tiv_pause_run_end();  // as a frame does
    auto start = Clock::now();
    tiv_pause(50);
    EXPECT_GE(ms_since(start), 50);
}

TEST(PauseRun, BackToBackPausesNeverEndBeforeTheirSum) {
    tiv_pause_run_end();
    auto start = Clock::now();
    for (int i = 0; i < 5; i++) tiv_pause(12);
    EXPECT_GE(ms_since(start), 60);
}

TEST(PauseRun, LeavesTheCallersTimerSlackAsItFoundIt) {
    const unsigned long mine = 123456;
    ASSERT_EQ(prctl(PR_SET_TIMERSLACK, mine, 0, 0, 0), 0);
    tiv_pause_run_end();
    tiv_pause(1);
    EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), (int)mine);
    prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);  // back to the thread's default
}

TEST(PauseRun, EachThreadHasItsOwnRun) {
    tiv_pause_run_end();
    tiv_pause(10);
    std::this_thread::sleep_for(40ms);
    double took = 0;
    std::thread other([&] {
        auto start = Clock::now();
        tiv_pause(30);
        took = ms_since(start);
    });
    other.join();
    EXPECT_GE(took, 30);
}

}  // namespace
