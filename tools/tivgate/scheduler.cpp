#include "tools/tivgate/scheduler.h"

namespace tivgate {

namespace {

// Enough for a median and p99 over a long run without growing for ever.
constexpr size_t kLatencySamples = 1 << 20;

}  // namespace

Scheduler::Scheduler(size_t fixtures) : slots_(fixtures) {}

void Scheduler::offer(const std::vector<Look>& looks, Clock::time_point now) {
    bool woke;
    {
        std::lock_guard lock(mutex_);
        last_offer_ = now;
        counts_.frames++;
        woke = apply(looks, now);
    }
    if (woke) wake_.notify_one();
}

void Scheduler::impose(const std::vector<Look>& looks, Clock::time_point now) {
    bool woke;
    {
        std::lock_guard lock(mutex_);
        woke = apply(looks, now);
    }
    if (woke) wake_.notify_one();
}

bool Scheduler::apply(const std::vector<Look>& looks, Clock::time_point now) {
    bool woke = false;
    for (size_t i = 0; i < slots_.size() && i < looks.size(); i++) {
        Slot& s = slots_[i];
        if (s.latest == looks[i]) continue;
        s.latest = looks[i];
        counts_.changes++;
        if (s.dirty) counts_.coalesced++;
        if (s.on_bus == looks[i]) {
            // Back to what the bus shows: the waiting change is void.
            s.dirty = false;
            continue;
        }
        if (!s.dirty) s.changed = now;
        s.dirty = true;
        woke = true;
    }
    return woke;
}

std::optional<Job> Scheduler::take() {
    std::lock_guard lock(mutex_);
    const size_t n = slots_.size();
    for (size_t k = 0; k < n; k++) {
        const size_t i = (cursor_ + k) % n;
        Slot& s = slots_[i];
        if (!s.dirty) continue;
        s.dirty = false;
        s.on_bus = s.latest;
        cursor_ = (i + 1) % n;
        return Job{i, *s.latest, s.changed};
    }
    return std::nullopt;
}

void Scheduler::record_send(const Job& job, Clock::time_point started) {
    std::lock_guard lock(mutex_);
    counts_.sent++;
    if (counts_.latency_ms.size() < kLatencySamples)
        counts_.latency_ms.push_back(std::chrono::duration<double, std::milli>(started - job.changed).count());
}

void Scheduler::requeue(const Job& job) {
    std::lock_guard lock(mutex_);
    counts_.failed++;
    Slot& s = slots_[job.fixture];
    s.on_bus.reset();  // unknown now: whatever comes next must go out
    if (s.dirty) return;
    s.dirty = true;
    s.changed = job.changed;
}

bool Scheduler::any_dirty() const {
    for (const Slot& s : slots_)
        if (s.dirty) return true;
    return false;
}

void Scheduler::wait(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, until, [&] { return stop_ || any_dirty(); });
}

void Scheduler::pause(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, until, [&] { return stop_; });
}

void Scheduler::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

bool Scheduler::stopping() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

std::optional<Clock::time_point> Scheduler::last_offer() const {
    std::lock_guard lock(mutex_);
    return last_offer_;
}

SchedulerCounts Scheduler::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

}  // namespace tivgate
