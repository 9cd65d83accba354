#include "tools/tivgate/gateway.h"

namespace tivgate {

const char* line_state_name(LineState state) {
    switch (state) {
    case LineState::opening: return "opening";
    case LineState::open: return "open";
    case LineState::lost: return "lost";
    }
    return "?";
}

void SecondRate::add(Clock::time_point now) {
    using namespace std::chrono_literals;
    if (now - start_ >= 2s) {
        last_ = current_ = 0;
        start_ = now;
    } else if (now - start_ >= 1s) {
        last_ = current_;
        current_ = 0;
        start_ += 1s;
    }
    current_++;
}

double SecondRate::per_second(Clock::time_point now) const {
    using namespace std::chrono_literals;
    if (now - start_ >= 2s) return 0;
    return (double)(now - start_ >= 1s ? current_ : last_);
}

Gateway::Gateway(std::shared_ptr<const Patch> patch, std::function<void()> wake_bus)
    : wake_bus_(std::move(wake_bus)), schedule_(std::move(patch), Clock::now()), started_(Clock::now()) {}

void Gateway::wake_if(bool due) {
    if (due) wake_bus_();
}

void Gateway::offer(unsigned universe, std::span<const uint8_t> slots, Clock::time_point now) {
    bool due;
    {
        std::lock_guard lock(mutex_);
        if (universe != schedule_.patch()->universe) return;
        const Changes c = schedule_.offer(slots, now);
        source_.last_frame = now;
        dmx_rate_.add(now);
        counts_.frames++;
        counts_.changes += c.changed;
        counts_.coalesced += c.coalesced;
        due = c.due;
    }
    wake_if(due);
}

void Gateway::impose(const Look& look, Clock::time_point now) {
    bool due;
    {
        std::lock_guard lock(mutex_);
        due = schedule_.impose(look, now).due;
    }
    wake_if(due);
}

void Gateway::force(const std::vector<std::optional<Look>>& forced, std::optional<OverrideView> view,
                    Clock::time_point now) {
    bool due;
    {
        std::lock_guard lock(mutex_);
        due = schedule_.force(forced, now);
        override_ = std::move(view);
    }
    wake_if(due);
}

bool Gateway::replace(std::shared_ptr<const Patch> patch, Clock::time_point now) {
    bool moved, due;
    {
        std::lock_guard lock(mutex_);
        moved = schedule_.replace(std::move(patch), now);
        override_.reset();  // the schedule has dropped its looks
        due = schedule_.due();
    }
    wake_if(due);
    return moved;
}

std::shared_ptr<const Patch> Gateway::patch() const {
    std::lock_guard lock(mutex_);
    return schedule_.patch();
}

void Gateway::set_source(bool connected, bool silent) {
    std::lock_guard lock(mutex_);
    source_.connected = connected;
    source_.silent = silent;
}

std::optional<Job> Gateway::take(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    return schedule_.take(now);
}

void Gateway::sent(const Job& job, Clock::time_point started, Clock::time_point finished) {
    std::lock_guard lock(mutex_);
    schedule_.sent(finished - started, finished);
    look_rate_.add(finished);
    if (job.refresh) {
        counts_.refreshes++;
        return;
    }
    counts_.sent++;
    if (job.group) {
        counts_.group_looks++;
        counts_.saved += job.saved;
    }
    if (!job.forced) latency_.add(started - job.changed);  // the figure is DMX's
}

void Gateway::failed(const Job& job) {
    std::lock_guard lock(mutex_);
    counts_.failed++;
    schedule_.failed(job);
}

void Gateway::resend_all(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    schedule_.resend_all(now);
}

Clock::time_point Gateway::next_refresh(Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    return schedule_.next_refresh(now);
}

void Gateway::set_line(LineState state, const std::string& device, Clock::time_point now) {
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        if (state == LineState::lost && line_.state == LineState::open) counts_.losses++;
        line_ = {state, device, now};
        listener = line_listener_;
    }
    if (listener) listener();
}

void Gateway::set_line_listener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    line_listener_ = std::move(listener);
}

void Gateway::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_bus_();
}

bool Gateway::stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

Snapshot Gateway::snapshot(Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    return {now,  started_, dmx_rate_.per_second(now), look_rate_.per_second(now), schedule_.patch(), schedule_.fixtures(),
            line_, source_, counts_, latency_, override_};
}

Counts Gateway::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

}  // namespace tivgate
