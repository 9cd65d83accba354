// The bus thread's policy: the line's state, and what to do next in it.
//
//   opening  the name leads to a device: it is opened, at once when the
//            device is new behind the name, else when the backoff allows
//   open     looks go out one at a time, each whole; a look not written
//            whole, or the name leading elsewhere, loses the line
//   lost     the name leads to no device: it is looked for every second,
//            and at once when the line's folder changes
//
// The same code opens the line at start and after a loss. The backoff
// between tries on one device doubles from 250 ms to 32 s and starts again
// only after the line has stayed open a minute without a fault, so a port
// held by another process, or one that opens and then fails every write, is
// tried a few times a minute at most; a device that appears anew behind the
// name is tried at once. An outage (from a loss until a look goes out whole
// again) is told once, with the library's own words for the first failed
// try; the tries after it that would fail as it did are made without the
// library (Line::busy), so it has nothing to repeat.
//
// Single-threaded and clock-driven: the bus thread (bus_thread.h) calls
// step() when woken or when the time it returned has come; the unit tests
// call it with a clock of their own.
#pragma once

#include <atomic>
#include <functional>

#include "tools/tivgate/gateway.h"
#include "tools/tivgate/line.h"
#include "tools/tivgate/log.h"

namespace tivgate {

class BusLoop {
public:
    using Now = std::function<Clock::time_point()>;
    BusLoop(Gateway& gateway, Line& line, Now now = Clock::now);

    // Does what is due; returns when it wants to be called again at the
    // latest (now or earlier: at once; max(): only when woken).
    Clock::time_point step();
    // The name may lead elsewhere now: looked at in the next step.
    void line_changed() { check_ = true; }
    // Closes the line, if open, for good.
    void finish();

    LineState state() const { return state_; }
    // When the library call in hand began, for the watchdog; nothing when
    // the bus thread is not in one. Read from any thread.
    std::optional<Clock::time_point> in_call_since() const;
    // True once the first try to open has been made (for readiness).
    bool tried() const { return tried_; }

private:
    Clock::time_point serve(Clock::time_point now);
    Clock::time_point look_for_device(Clock::time_point now);
    Clock::time_point try_open(Clock::time_point now);
    void opened(const NodeId& node, Clock::time_point now);
    void open_failed(const NodeId& node, const std::string& why, Clock::time_point now);
    Clock::time_point lose(const char* why, Clock::time_point now);
    void steady(Clock::time_point now);
    void end_outage(Clock::time_point now);
    void enter(LineState state, Clock::time_point now);
    template <class F>
    auto in_call(F&& call);

    Gateway& gateway_;
    Line& line_;
    const Now now_;
    LineState state_ = LineState::opening;
    bool check_ = false;
    bool tried_ = false;
    std::atomic<Clock::rep> in_call_since_{0};  // 0: not in a call
    std::optional<NodeId> opened_;              // the node open now
    Clock::time_point opened_at_{};
    bool healthy_ = false;  // open a minute without a fault since opened_at_
    // The backoff, and the node it holds for: another node is tried at once.
    std::chrono::milliseconds backoff_;
    std::optional<NodeId> retry_node_;
    Clock::time_point next_try_{};
    // The outage in hand: from a loss (or a failed start) until a look goes
    // out whole, or the line stays open a while with nothing to send.
    RepeatedFailure outage_;
    Clock::time_point outage_since_{};
    bool said_back_ = false;
    bool said_holder_ = false;
    bool library_spoke_ = false;  // the library has told this outage's failure to open
};

}  // namespace tivgate
