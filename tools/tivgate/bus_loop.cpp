#include "tools/tivgate/bus_loop.h"

#include <algorithm>

#include "tools/tivgate/port_holder.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;

// While the name leads nowhere: how often it is looked up (a stat, no
// library call); a change in its folder wakes the loop sooner.
constexpr Clock::duration kPresenceCheck = 1s;
constexpr std::chrono::milliseconds kFirstRetry = 250ms;
constexpr std::chrono::milliseconds kLongestRetry = 32s;
// Open this long without a fault, the line is trusted again.
constexpr Clock::duration kSteady = 60s;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

BusLoop::BusLoop(Gateway& gateway, Line& line, Now now)
    : gateway_(gateway), line_(line), now_(std::move(now)), backoff_(kFirstRetry), outage_("bus on " + line.path()) {}

template <class F>
auto BusLoop::in_call(F&& call) {
    in_call_since_.store(now_().time_since_epoch().count(), std::memory_order_relaxed);
    auto result = call();
    in_call_since_.store(0, std::memory_order_relaxed);
    return result;
}

std::optional<Clock::time_point> BusLoop::in_call_since() const {
    const Clock::rep since = in_call_since_.load(std::memory_order_relaxed);
    if (since == 0) return std::nullopt;
    return Clock::time_point(Clock::duration(since));
}

void BusLoop::enter(LineState state, Clock::time_point now) {
    state_ = state;
    gateway_.set_line(state, line_.device(), now);
}

Clock::time_point BusLoop::step() {
    const Clock::time_point now = now_();
    switch (state_) {
    case LineState::open: return serve(now);
    case LineState::lost: return look_for_device(now);
    case LineState::opening: return try_open(now);
    }
    return now;
}

Clock::time_point BusLoop::look_for_device(Clock::time_point now) {
    check_ = false;
    if (!line_.node()) return now + kPresenceCheck;
    enter(LineState::opening, now);
    return now;
}

Clock::time_point BusLoop::try_open(Clock::time_point now) {
    check_ = false;
    const std::optional<NodeId> node = line_.node();
    if (!node) {
        if (!tried_ && outage_.occurred("no device", now)) {
            outage_since_ = now;
            log_line(Priority::warning, "%s leads to no device; waiting for it", line_.path().c_str());
        }
        tried_ = true;
        enter(LineState::lost, now);
        return now;
    }
    if (node != retry_node_) next_try_ = now;  // new behind the name: no backoff holds for it
    if (now < next_try_) return std::min(next_try_, now + kPresenceCheck);
    tried_ = true;
    // The device that failed last time: asked first without the library,
    // which would only say again what it said then.
    if (library_spoke_ && node == retry_node_)
        if (const std::optional<std::string> why = line_.busy()) {
            open_failed(*node, *why, now);
            return now;
        }
    if (in_call([&] { return line_.open(); })) {
        opened(*node, now_());
        return now;
    }
    library_spoke_ = true;
    open_failed(*node, line_.busy().value_or("the library could not open it"), now);
    return now;
}

void BusLoop::open_failed(const NodeId& node, const std::string& why, Clock::time_point now) {
    retry_node_ = node;
    next_try_ = now + backoff_;
    backoff_ = std::min(backoff_ * 2, kLongestRetry);
    if (outage_.occurred("cannot open " + line_.device() + ": " + why, now)) {
        outage_since_ = now;
        log_line(Priority::warning, "cannot open %s (%s): %s; trying again with backoff up to %lld s",
                 line_.path().c_str(), line_.device().c_str(), why.c_str(), (long long)(kLongestRetry.count() / 1000));
    }
    if (said_holder_) return;
    said_holder_ = true;
    if (const auto holder = port_holder_line(line_.device())) log_line(Priority::warning, "%s", holder->c_str());
}

void BusLoop::opened(const NodeId& node, Clock::time_point now) {
    opened_ = node;
    opened_at_ = now;
    healthy_ = false;
    check_ = false;
    enter(LineState::open, now);
    if (!outage_.active()) {
        log_line(Priority::info, "bus open on %s (%s)", line_.path().c_str(), line_.device().c_str());
    } else if (!said_back_) {
        said_back_ = true;
        log_line(Priority::notice, "bus back on %s (%s) after %.1f s; sending every look again", line_.path().c_str(),
                 line_.device().c_str(), seconds(now - outage_since_));
    }
    // The devices may have restarted along with the adapter.
    gateway_.resend_all(now);
}

Clock::time_point BusLoop::serve(Clock::time_point now) {
    if (check_) {
        check_ = false;
        if (line_.node() != opened_) return lose("the device behind it is gone or was replaced", now);
    }
    if (!healthy_ && now - opened_at_ >= kSteady) steady(now);
    const std::optional<Job> job = gateway_.take(now);
    if (!job) return std::min(gateway_.next_refresh(now), healthy_ ? Clock::time_point::max() : opened_at_ + kSteady);
    const bool whole = in_call([&] { return line_.send(*job); });
    const Clock::time_point finished = now_();
    if (!whole) {
        gateway_.failed(*job);
        return lose("a look was not written whole", finished);
    }
    gateway_.sent(*job, now, finished);
    if (outage_.active()) end_outage(finished);
    return finished;
}

void BusLoop::steady(Clock::time_point now) {
    healthy_ = true;
    backoff_ = kFirstRetry;
    retry_node_.reset();
    if (outage_.active()) end_outage(now);
}

void BusLoop::end_outage(Clock::time_point now) {
    outage_.ended(now);
    said_back_ = said_holder_ = library_spoke_ = false;
}

Clock::time_point BusLoop::lose(const char* why, Clock::time_point now) {
    if (outage_.occurred(std::string("lost: ") + why, now)) {
        outage_since_ = now;
        log_line(Priority::warning, "bus lost on %s: %s; reopening it when it is back", line_.path().c_str(), why);
    }
    enter(LineState::lost, now);
    // Closing lets the kernel drop a dead tty, so that the name can lead to the next one.
    in_call([&] {
        line_.close();
        return true;
    });
    retry_node_ = opened_;
    opened_.reset();
    next_try_ = now + backoff_;
    backoff_ = std::min(backoff_ * 2, kLongestRetry);
    return now_();
}

void BusLoop::finish() {
    if (state_ != LineState::open) return;
    in_call([&] {
        line_.close();
        return true;
    });
}

}  // namespace tivgate
