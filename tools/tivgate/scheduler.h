// Which look goes on the bus next.
//
// Two threads meet here, and the main thread reloads the patch: the DMX
// source offers each frame, the bus thread takes one look at a time and
// sends it. Everything they share (the patch in force, each fixture's latest
// look, whether it waits to be sent, the time its oldest unsent change
// arrived, when its look last went out, the last DMX frame, the counters)
// lives behind the one mutex below, and the condition variable wakes the bus
// thread when a fixture turns dirty or a stop is asked. Neither side holds
// the mutex across a send or a DMX callback; the bus thread works on the
// copy that take() hands out, which names addresses, not indices, so that a
// reload in the middle of a send cannot misplace its result.
//
// Fairness: take() walks the fixtures round-robin from the one after the
// last it gave out. A dirty fixture is therefore given out after at most one
// turn of every other fixture, plus the send already in hand: with N
// fixtures changing all the time, fixture i's latest look reaches the bus
// within cost(in hand) + sum of cost(j) for j != i, where a group fixture's
// cost is the wire time of its three frames and a device's adds 30 ms per
// frame (90 ms per look). A member of a declared group whose members all
// agree goes out as one group look, which settles every member at the cost
// of a group fixture, so that turn costs less, never more, and the members
// it settled skip their turns. A change that lands while its own fixture is
// on the bus waits at most one such round more.
//
// Refresh: when nothing is dirty, the look shown longest ago is sent again
// once it is older than the refresh time less the time a whole round of
// looks may take, so that every look is repeated within the refresh time
// while the bus has room. A refresh is one look, so a change waits behind at
// most the refresh in hand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "tools/tivgate/look.h"
#include "tools/tivgate/patch.h"

namespace tivgate {

using Clock = std::chrono::steady_clock;

struct Job {
    uint32_t address;  // where the look goes: a device, a group fixture or a declared group
    FixtureMode mode;
    Look look;
    Clock::time_point changed;     // arrival of the oldest change this send carries
    bool refresh = false;          // a look the bus shows already, sent again
    bool group = false;            // a declared group's look in place of its members'
    std::vector<uint32_t> covers;  // fixture addresses this look settles
    uint32_t saved = 0;            // device looks a group look made unnecessary
};

struct SchedulerCounts {
    uint64_t frames = 0;       // DMX frames offered
    uint64_t changes = 0;      // fixture looks that differed from the one before
    uint64_t sent = 0;         // looks given to the bus for changes
    uint64_t coalesced = 0;    // changes replaced before they were sent
    uint64_t failed = 0;       // sends with a frame not written whole
    uint64_t refreshes = 0;    // looks sent again unchanged
    uint64_t group_looks = 0;  // declared groups' looks among the sent
    uint64_t saved = 0;        // device looks those group looks stood in for
};

class Scheduler {
public:
    explicit Scheduler(std::shared_ptr<const Patch> patch);

    // Source side: one DMX frame. Marks the fixtures whose look changed
    // dirty, latest value winning. A frame of another universe than the
    // patch's (one still on its way when a reload moved) is dropped.
    void offer(unsigned universe, std::span<const uint8_t> slots, Clock::time_point now);
    // A look the gateway sets itself on every fixture (the source-loss
    // look): neither a DMX frame nor a sign of life from the source.
    void impose(const Look& look, Clock::time_point now);

    // Control side: puts `patch` in force. Fixtures kept with the same
    // address, channel and mode keep their state; new and changed ones take
    // their look from the last DMX frame at once, sent if it differs from
    // what the bus shows. A new universe gives no look until its first
    // frame. True when the universe changed.
    bool replace(std::shared_ptr<const Patch> patch, Clock::time_point now);
    std::shared_ptr<const Patch> patch() const;
    // The line came back, with devices that may have restarted: every
    // fixture's latest look goes out again.
    void resend_all(Clock::time_point now);

    // Bus side: the next look to send, or nothing. Its look counts as on the
    // bus from here on.
    std::optional<Job> take(Clock::time_point now);
    void record_send(const Job& job, Clock::time_point started, Clock::time_point finished);
    // A send that failed: what it covered waits again, its oldest change kept.
    void requeue(const Job& job);
    // When take() will next have a refresh to give; max() when never.
    Clock::time_point next_refresh() const;

    // Waits until a fixture is dirty, stop() was called or `until` passed.
    void wait(Clock::time_point until);
    // Waits until stop() was called or `until` passed, dirty or not.
    void pause(Clock::time_point until);
    void stop();
    bool stopping() const;

    // Time of the last offer; nullopt before the first.
    std::optional<Clock::time_point> last_offer() const;
    SchedulerCounts counts() const;
    // Change to send in ms, one per change sent (capped), for the median and p99.
    std::vector<double> latencies() const;

private:
    struct Slot {
        std::optional<Look> latest;  // the source's last word
        std::optional<Look> on_bus;  // the last look given out; none: unknown
        bool dirty = false;
        Clock::time_point changed{};
        Clock::time_point shown{};  // when its look last went out
        int group = -1;             // index into the patch's groups
    };
    void set_latest(Slot& s, const Look& look, Clock::time_point now);
    bool any_dirty() const;
    bool group_agrees(const Group& g) const;
    Job job_for(size_t i, Clock::time_point now, bool refresh);
    std::optional<size_t> stalest() const;
    Clock::duration refresh_lead() const;
    Slot* slot_at(uint32_t address);
    std::optional<size_t> kept_slot(const Fixture& f) const;  // the old slot of the same address and mode
    void wake_if(bool woke);
    // All under mutex_.

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    // Guarded by mutex_:
    std::shared_ptr<const Patch> patch_;
    std::vector<Slot> slots_;     // as the patch's fixtures
    std::vector<uint8_t> frame_;  // the last DMX frame
    size_t cursor_ = 0;           // the fixture take() looks at first
    bool stop_ = false;
    std::optional<Clock::time_point> last_offer_;
    Clock::duration longest_look_{};  // the longest send seen, for the refresh's lead
    SchedulerCounts counts_;
    std::vector<double> latency_ms_;
};

}  // namespace tivgate
