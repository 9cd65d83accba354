// Which fixture goes on the bus next.
//
// Two threads meet here: the DMX source offers the looks of each frame, the
// bus thread takes one fixture at a time and sends it. Everything they share
// (each fixture's latest look, whether it waits to be sent, the time its
// first unsent change arrived, the counters) lives behind the one mutex below,
// and the condition variable wakes the bus thread when a fixture turns dirty
// or a stop is asked. Neither side holds the mutex across a send or a DMX
// callback; the bus thread works on the copy that take() hands out.
//
// Fairness: take() walks the fixtures round-robin from the one after the
// last it gave out. A dirty fixture is therefore given out after at most one
// turn of every other fixture, plus the send already in hand: with N
// fixtures changing all the time, fixture i's latest look reaches the bus
// within cost(in hand) + sum of cost(j) for j != i, where a group fixture's
// cost is the wire time of its three frames and a physical one's adds 30 ms
// per frame (90 ms per look). A change that lands while its own fixture is
// on the bus waits at most one such round more.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "tools/tivgate/look.h"

namespace tivgate {

using Clock = std::chrono::steady_clock;

struct Job {
    size_t fixture;
    Look look;
    Clock::time_point changed;  // arrival of the oldest change this send carries
};

struct SchedulerCounts {
    uint64_t frames = 0;     // DMX frames offered
    uint64_t changes = 0;    // fixture looks that differed from the one before
    uint64_t sent = 0;       // looks given to the bus
    uint64_t coalesced = 0;  // changes replaced before they were sent
    uint64_t failed = 0;     // sends with a frame not written whole
    std::vector<double> latency_ms;  // change to send, one per send (capped)
};

class Scheduler {
public:
    explicit Scheduler(size_t fixtures);

    // Source side: the looks of every fixture in one DMX frame, indexed as
    // the patch. Marks the changed ones dirty, latest value winning.
    void offer(const std::vector<Look>& looks, Clock::time_point now);
    // The same for a look the gateway sets itself (the source-loss look):
    // neither a DMX frame nor a sign of life from the source.
    void impose(const std::vector<Look>& looks, Clock::time_point now);

    // Bus side: the next dirty fixture, or nothing. The look it returns
    // counts as on the bus from here on.
    std::optional<Job> take();
    void record_send(const Job& job, Clock::time_point started);
    // A send that failed: the fixture waits again, its oldest change kept.
    void requeue(const Job& job);

    // Waits until a fixture is dirty, stop() was called or `until` passed.
    void wait(Clock::time_point until);
    // Waits until stop() was called or `until` passed, dirty or not.
    void pause(Clock::time_point until);
    void stop();
    bool stopping() const;

    // Time of the last offer; nullopt before the first.
    std::optional<Clock::time_point> last_offer() const;
    SchedulerCounts counts() const;

private:
    struct Slot {
        std::optional<Look> latest;  // the source's last word
        std::optional<Look> on_bus;  // the last look given out
        bool dirty = false;
        Clock::time_point changed{};
    };
    bool any_dirty() const;
    bool apply(const std::vector<Look>& looks, Clock::time_point now);  // under mutex_

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_:
    std::vector<Slot> slots_;
    size_t cursor_ = 0;  // the fixture take() looks at first
    bool stop_ = false;
    std::optional<Clock::time_point> last_offer_;
    SchedulerCounts counts_;
};

}  // namespace tivgate
