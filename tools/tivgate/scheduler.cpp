#include "tools/tivgate/scheduler.h"

#include <algorithm>

namespace tivgate {

namespace {

// Enough for a median and p99 over a long run without growing for ever.
constexpr size_t kLatencySamples = 1 << 20;

// An rgbw fixture has no fade value: keep it 0 so that looks compare alike
// whoever set them.
Look for_mode(Look look, FixtureMode mode) {
    if (mode == FixtureMode::rgbw) look.fade = 0;
    return look;
}

}  // namespace

Scheduler::Scheduler(std::shared_ptr<const Patch> patch) { replace(std::move(patch), Clock::now()); }

void Scheduler::wake_if(bool woke) {
    if (woke) wake_.notify_one();
}

void Scheduler::set_latest(Slot& s, const Look& look, Clock::time_point now) {
    if (s.latest == look) return;
    s.latest = look;
    counts_.changes++;
    if (s.dirty) counts_.coalesced++;
    if (s.on_bus == look) {
        // Back to what the bus shows: the waiting change is void.
        s.dirty = false;
        return;
    }
    if (!s.dirty) s.changed = now;
    s.dirty = true;
}

void Scheduler::offer(unsigned universe, std::span<const uint8_t> slots, Clock::time_point now) {
    bool woke;
    {
        std::lock_guard lock(mutex_);
        if (universe != patch_->universe) return;
        last_offer_ = now;
        counts_.frames++;
        frame_.assign(slots.begin(), slots.end());
        for (size_t i = 0; i < slots_.size(); i++) {
            const Fixture& f = patch_->fixtures[i];
            set_latest(slots_[i], look_from_dmx(slots, f.channel, f.mode), now);
        }
        woke = any_dirty();
    }
    wake_if(woke);
}

void Scheduler::impose(const Look& look, Clock::time_point now) {
    bool woke;
    {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < slots_.size(); i++) set_latest(slots_[i], for_mode(look, patch_->fixtures[i].mode), now);
        woke = any_dirty();
    }
    wake_if(woke);
}

std::optional<size_t> Scheduler::kept_slot(const Fixture& f) const {
    if (!patch_) return std::nullopt;
    for (size_t i = 0; i < patch_->fixtures.size(); i++)
        if (patch_->fixtures[i].address == f.address && patch_->fixtures[i].mode == f.mode) return i;
    return std::nullopt;
}

bool Scheduler::replace(std::shared_ptr<const Patch> patch, Clock::time_point now) {
    bool woke, new_universe;
    {
        std::lock_guard lock(mutex_);
        new_universe = patch_ && patch_->universe != patch->universe;
        if (new_universe) frame_.clear();  // another universe's slots say nothing of this one
        std::vector<Slot> slots(patch->fixtures.size());
        for (size_t i = 0; i < slots.size(); i++) {
            const Fixture& f = patch->fixtures[i];
            Slot& s = slots[i];
            const std::optional<size_t> old = kept_slot(f);
            const bool unchanged = old && !new_universe && patch_->fixtures[*old].channel == f.channel;
            if (unchanged) {
                s = slots_[*old];
            } else {
                // What the bus shows at this address stays known, so that
                // only a look that differs goes out.
                if (old) s.on_bus = slots_[*old].on_bus, s.shown = slots_[*old].shown;
                if (!frame_.empty()) set_latest(s, look_from_dmx(frame_, f.channel, f.mode), now);
            }
            s.group = -1;
        }
        for (size_t g = 0; g < patch->groups.size(); g++)
            for (size_t m : patch->groups[g].members) slots[m].group = (int)g;
        patch_ = std::move(patch);
        slots_ = std::move(slots);
        cursor_ = 0;
        woke = any_dirty();
    }
    wake_if(woke);
    return new_universe;
}

std::shared_ptr<const Patch> Scheduler::patch() const {
    std::lock_guard lock(mutex_);
    return patch_;
}

void Scheduler::resend_all(Clock::time_point now) {
    bool woke;
    {
        std::lock_guard lock(mutex_);
        for (Slot& s : slots_) {
            if (!s.latest) continue;
            s.on_bus.reset();
            if (!s.dirty) s.changed = now;
            s.dirty = true;
        }
        woke = any_dirty();
    }
    wake_if(woke);
}

bool Scheduler::group_agrees(const Group& g) const {
    const std::optional<Look>& first = slots_[g.members.front()].latest;
    if (!first) return false;
    return std::all_of(g.members.begin(), g.members.end(), [&](size_t m) { return slots_[m].latest == first; });
}

Job Scheduler::job_for(size_t i, Clock::time_point now, bool refresh) {
    Slot& s = slots_[i];
    const Fixture& f = patch_->fixtures[i];
    Job job{f.address, f.mode, *s.latest, refresh ? now : s.changed, refresh, false, {}, 0};
    std::vector<size_t> settled = {i};
    if (s.group >= 0 && group_agrees(patch_->groups[(size_t)s.group])) {
        const Group& g = patch_->groups[(size_t)s.group];
        job.address = g.address;
        job.group = true;
        settled = g.members;
    }
    for (size_t m : settled) {
        Slot& ms = slots_[m];
        if (job.group && ms.dirty && !refresh) {
            job.saved++;
            job.changed = std::min(job.changed, ms.changed);
        }
        ms.dirty = false;
        ms.on_bus = ms.latest;
        ms.shown = now;
        job.covers.push_back(patch_->fixtures[m].address);
    }
    return job;
}

std::optional<size_t> Scheduler::stalest() const {
    std::optional<size_t> oldest;
    for (size_t i = 0; i < slots_.size(); i++)
        if (slots_[i].on_bus && (!oldest || slots_[i].shown < slots_[*oldest].shown)) oldest = i;
    return oldest;
}

// Refreshes start this much early, so that a round of them, one look after
// another, still ends within the refresh time.
Clock::duration Scheduler::refresh_lead() const {
    const Clock::duration half = patch_->bus.refresh / 2;
    return std::min<Clock::duration>(half, longest_look_ * (int64_t)slots_.size());
}

std::optional<Job> Scheduler::take(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const size_t n = slots_.size();
    for (size_t k = 0; k < n; k++) {
        const size_t i = (cursor_ + k) % n;
        if (!slots_[i].dirty) continue;
        cursor_ = (i + 1) % n;
        return job_for(i, now, false);
    }
    if (patch_->bus.refresh.count() == 0) return std::nullopt;
    const std::optional<size_t> oldest = stalest();
    if (!oldest || slots_[*oldest].shown + patch_->bus.refresh - refresh_lead() > now) return std::nullopt;
    return job_for(*oldest, now, true);
}

Clock::time_point Scheduler::next_refresh() const {
    std::lock_guard lock(mutex_);
    const std::optional<size_t> oldest = stalest();
    if (patch_->bus.refresh.count() == 0 || !oldest) return Clock::time_point::max();
    return slots_[*oldest].shown + patch_->bus.refresh - refresh_lead();
}

void Scheduler::record_send(const Job& job, Clock::time_point started, Clock::time_point finished) {
    std::lock_guard lock(mutex_);
    longest_look_ = std::max(longest_look_, finished - started);
    if (job.refresh) {
        counts_.refreshes++;
        return;
    }
    counts_.sent++;
    if (job.group) {
        counts_.group_looks++;
        counts_.saved += job.saved;
    }
    if (latency_ms_.size() < kLatencySamples)
        latency_ms_.push_back(std::chrono::duration<double, std::milli>(started - job.changed).count());
}

Scheduler::Slot* Scheduler::slot_at(uint32_t address) {
    for (size_t i = 0; i < slots_.size(); i++)
        if (patch_->fixtures[i].address == address) return &slots_[i];
    return nullptr;
}

void Scheduler::requeue(const Job& job) {
    bool woke;
    {
        std::lock_guard lock(mutex_);
        counts_.failed++;
        for (uint32_t address : job.covers) {
            Slot* s = slot_at(address);
            if (!s || !s->latest) continue;  // gone with a reload in the meantime
            s->on_bus.reset();  // unknown now: whatever comes next must go out
            if (s->dirty) continue;
            s->dirty = true;
            s->changed = job.changed;
        }
        woke = any_dirty();
    }
    wake_if(woke);
}

bool Scheduler::any_dirty() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.dirty; });
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

std::vector<double> Scheduler::latencies() const {
    std::lock_guard lock(mutex_);
    return latency_ms_;
}

}  // namespace tivgate
