// What tivgate's threads share, behind one mutex: the schedule, the
// counters, the latency figures and the states of the line and of the
// source. The event loop offers DMX and reloads, the bus thread takes looks
// and reports their fate, and the status line, the page and the metrics read
// snapshots. Nobody holds the mutex longer than a copy or a step of the
// schedule takes, never across a library call or a DMX callback; the bus
// thread works on the Job take() hands out, which names addresses, not
// indices, so that a reload in the middle of a send cannot misplace its result.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "tools/tivgate/latency_histogram.h"
#include "tools/tivgate/schedule.h"

namespace tivgate {

struct Counts {
    uint64_t frames = 0;       // DMX frames offered
    uint64_t changes = 0;      // fixture looks that differed from the one before
    uint64_t sent = 0;         // looks given to the bus for changes
    uint64_t coalesced = 0;    // changes replaced before they were sent
    uint64_t failed = 0;       // sends with a frame not written whole
    uint64_t refreshes = 0;    // looks sent again unchanged
    uint64_t group_looks = 0;  // declared groups' looks among the sent
    uint64_t saved = 0;        // device looks those group looks stood in for
    uint64_t losses = 0;       // times the line was lost
};

enum class LineState { opening, open, lost };
const char* line_state_name(LineState state);

struct LineView {
    LineState state = LineState::opening;
    std::string device;  // the node the line is on, or was on
    Clock::time_point since{};  // of the state
};

struct SourceView {
    bool connected = false;  // registered with olad for the universe
    bool silent = false;     // no DMX for the patch's loss time
    std::optional<Clock::time_point> last_frame;
};

// Events in the last whole second, counted as they come, without a timer.
class SecondRate {
public:
    void add(Clock::time_point now);
    double per_second(Clock::time_point now) const;

private:
    Clock::time_point start_{};
    uint64_t current_ = 0, last_ = 0;
};

// What an override (identify, test pattern) does, for the status.
struct OverrideView {
    std::string kind;    // "identify", "test" or "chase"
    std::string target;  // "0x010001", "group 2", "#FF000000", "every fixture"
    std::string now;     // the fixture it is on now, where it walks; else empty
    Clock::time_point ends{};
};

struct Snapshot {
    Clock::time_point taken{};
    Clock::time_point started{};  // of the gateway
    double dmx_per_s = 0;
    double looks_per_s = 0;       // sent for changes and refreshes
    std::shared_ptr<const Patch> patch;
    std::vector<FixtureView> fixtures;  // as patch->fixtures
    LineView line;
    SourceView source;
    Counts counts;
    LatencyHistogram latency;
    std::optional<OverrideView> override_view;
};

class Gateway {
public:
    // `wake_bus` is called, without the mutex held, when a look turns due or
    // a stop is asked.
    Gateway(std::shared_ptr<const Patch> patch, std::function<void()> wake_bus);

    // Source side. A frame of another universe than the patch's (one still
    // on its way when a reload moved) is dropped.
    void offer(unsigned universe, std::span<const uint8_t> slots, Clock::time_point now);
    void impose(const Look& look, Clock::time_point now);
    // An override's looks on top of the source's (Schedule::force), and what
    // the status says of it; nothing forced and no view ends it.
    void force(const std::vector<std::optional<Look>>& forced, std::optional<OverrideView> view,
               Clock::time_point now);
    // A new patch ends any override: it named the old patch's fixtures.
    bool replace(std::shared_ptr<const Patch> patch, Clock::time_point now);
    std::shared_ptr<const Patch> patch() const;
    void set_source(bool connected, bool silent);

    // Bus side.
    std::optional<Job> take(Clock::time_point now);
    void sent(const Job& job, Clock::time_point started, Clock::time_point finished);
    void failed(const Job& job);
    void resend_all(Clock::time_point now);
    Clock::time_point next_refresh(Clock::time_point now) const;
    void set_line(LineState state, const std::string& device, Clock::time_point now);
    // Called, without the mutex held, after each change of the line's state.
    void set_line_listener(std::function<void()> listener);

    void stop();
    bool stopping() const;

    Snapshot snapshot(Clock::time_point now) const;
    Counts counts() const;

private:
    void wake_if(bool due);

    const std::function<void()> wake_bus_;
    std::function<void()> line_listener_;  // guarded by mutex_
    mutable std::mutex mutex_;
    // Guarded by mutex_:
    Schedule schedule_;
    Counts counts_;
    LatencyHistogram latency_;
    SecondRate dmx_rate_, look_rate_;
    const Clock::time_point started_;
    LineView line_;
    SourceView source_;
    std::optional<OverrideView> override_;
    bool stop_ = false;
};

}  // namespace tivgate
