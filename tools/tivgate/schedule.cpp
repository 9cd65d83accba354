#include "tools/tivgate/schedule.h"

#include <algorithm>

namespace tivgate {

namespace {

using namespace std::chrono_literals;

// One slow send should not move every later refresh early for ever.
constexpr Clock::duration kLongestDecay = 60s;

// An rgbw fixture has no fade value: keep it 0 so that looks compare alike
// whoever set them.
Look for_mode(Look look, FixtureMode mode) {
    if (mode == FixtureMode::rgbw) look.fade = 0;
    return look;
}

}  // namespace

Schedule::Schedule(std::shared_ptr<const Patch> patch, Clock::time_point now) {
    replace(std::move(patch), now);
    if (patch_->bus.startup) impose(*patch_->bus.startup, now);
}

Changes Schedule::want(Slot& s, std::optional<Look> look, Clock::time_point now) {
    Changes c;
    if (s.source == look) return c;
    const bool was_due = s.due();
    s.source = look;
    c.changed = 1;
    c.coalesced = was_due && !s.forced;
    if (!was_due && s.due()) s.changed = now;
    c.due = s.due();
    return c;
}

bool Schedule::set_forced(Slot& s, std::optional<Look> look, Clock::time_point now) {
    const bool was_due = s.due();
    s.forced = look;
    if (!was_due && s.due()) s.changed = now;
    return s.due();
}

void Schedule::forget_on_bus(Slot& s, Clock::time_point changed) {
    const bool was_due = s.due();
    s.on_bus.reset();
    if (!was_due && s.due()) s.changed = changed;
}

Changes Schedule::offer(std::span<const uint8_t> slots, Clock::time_point now) {
    frame_.assign(slots.begin(), slots.end());
    Changes all;
    for (size_t i = 0; i < slots_.size(); i++) {
        const Fixture& f = patch_->fixtures[i];
        const Changes c = want(slots_[i], look_from_dmx(slots, f.channel, f.mode), now);
        all.changed += c.changed;
        all.coalesced += c.coalesced;
    }
    all.due = due();
    return all;
}

Changes Schedule::impose(const Look& look, Clock::time_point now) {
    Changes all;
    for (size_t i = 0; i < slots_.size(); i++) {
        const Changes c = want(slots_[i], for_mode(look, patch_->fixtures[i].mode), now);
        all.changed += c.changed;
        all.coalesced += c.coalesced;
    }
    all.due = due();
    return all;
}

std::optional<size_t> Schedule::kept_slot(const Fixture& f) const {
    if (!patch_) return std::nullopt;
    for (size_t i = 0; i < patch_->fixtures.size(); i++)
        if (patch_->fixtures[i].address == f.address && patch_->fixtures[i].mode == f.mode) return i;
    return std::nullopt;
}

bool Schedule::replace(std::shared_ptr<const Patch> patch, Clock::time_point now) {
    const bool new_universe = patch_ && patch_->universe != patch->universe;
    if (new_universe) frame_.clear();  // another universe's slots say nothing of this one
    std::vector<Slot> slots(patch->fixtures.size());
    for (size_t i = 0; i < slots.size(); i++) {
        const Fixture& f = patch->fixtures[i];
        Slot& s = slots[i];
        const std::optional<size_t> old = kept_slot(f);
        if (old && !new_universe && patch_->fixtures[*old].channel == f.channel) {
            s = slots_[*old];
        } else {
            if (old) s.on_bus = slots_[*old].on_bus, s.shown = slots_[*old].shown;
            if (!frame_.empty()) want(s, look_from_dmx(frame_, f.channel, f.mode), now);
        }
        s.forced.reset();  // an override names fixtures of the patch it was made for
        s.group = -1;
    }
    forced_group_sent_.assign(patch->groups.size(), false);
    for (size_t g = 0; g < patch->groups.size(); g++)
        for (size_t m : patch->groups[g].members) slots[m].group = (int)g;
    patch_ = std::move(patch);
    slots_ = std::move(slots);
    cursor_ = 0;
    return new_universe;
}

void Schedule::resend_all(Clock::time_point now) {
    for (Slot& s : slots_) forget_on_bus(s, now);
}

bool Schedule::force(const std::vector<std::optional<Look>>& forced, Clock::time_point now) {
    bool any = false;
    for (size_t i = 0; i < slots_.size(); i++) {
        std::optional<Look> look = i < forced.size() ? forced[i] : std::nullopt;
        if (look) look = for_mode(*look, patch_->fixtures[i].mode);
        set_forced(slots_[i], look, now);
        any = any || look;
    }
    if (!any) resend_outside_forced_groups(now);
    return due();
}

void Schedule::resend_outside_forced_groups(Clock::time_point now) {
    for (size_t g = 0; g < forced_group_sent_.size(); g++) {
        if (!forced_group_sent_[g]) continue;
        forced_group_sent_[g] = false;
        for (size_t i = 0; i < slots_.size(); i++)
            if (!is_group(patch_->fixtures[i].address) && slots_[i].group != (int)g) forget_on_bus(slots_[i], now);
    }
}

bool Schedule::group_agrees(const Group& g) const {
    const std::optional<Look>& first = slots_[g.members.front()].wanted();
    if (!first) return false;
    return std::all_of(g.members.begin(), g.members.end(), [&](size_t m) { return slots_[m].wanted() == first; });
}

Job Schedule::job_for(size_t i, Clock::time_point now, bool refresh) {
    Slot& s = slots_[i];
    const Fixture& f = patch_->fixtures[i];
    Job job{f.address, f.mode, *s.wanted(), refresh ? now : s.changed, refresh, false, s.forced.has_value(), {}, 0};
    std::vector<size_t> settled = {i};
    if (s.group >= 0 && group_agrees(patch_->groups[(size_t)s.group])) {
        const Group& g = patch_->groups[(size_t)s.group];
        job.address = g.address;
        job.group = true;
        settled = g.members;
        if (job.forced) forced_group_sent_[(size_t)s.group] = true;
    }
    for (size_t m : settled) {
        Slot& ms = slots_[m];
        if (job.group && ms.due() && !refresh) {
            job.saved++;
            job.changed = std::min(job.changed, ms.changed);
        }
        ms.on_bus = ms.wanted();
        ms.shown = now;
        job.covers.push_back(patch_->fixtures[m].address);
    }
    return job;
}

// The look shown longest ago among those the fixtures want and the bus was given.
std::optional<size_t> Schedule::stalest() const {
    std::optional<size_t> oldest;
    for (size_t i = 0; i < slots_.size(); i++) {
        const Slot& s = slots_[i];
        if (s.wanted() && s.on_bus == s.wanted() && (!oldest || s.shown < slots_[*oldest].shown)) oldest = i;
    }
    return oldest;
}

// Refreshes start this much early, so that a round of them, one look after
// another, still ends within the refresh time.
Clock::duration Schedule::refresh_lead(Clock::time_point now) const {
    return std::min<Clock::duration>(patch_->bus.refresh / 2, longest(now) * (int64_t)slots_.size());
}

// Halved once for each whole kLongestDecay: in steps, so that a refresh due
// by one reading is due by the next.
Clock::duration Schedule::longest(Clock::time_point now) const {
    const int64_t halvings = std::clamp<int64_t>((now - longest_at_) / kLongestDecay, 0, 62);
    return longest_ / ((int64_t)1 << halvings);
}

std::optional<size_t> Schedule::next_due(bool forced_only) const {
    const size_t n = slots_.size();
    for (size_t k = 0; k < n; k++) {
        const size_t i = (cursor_ + k) % n;
        if (slots_[i].due() && (slots_[i].forced || !forced_only)) return i;
    }
    return std::nullopt;
}

std::optional<Job> Schedule::take(Clock::time_point now) {
    std::optional<size_t> i = next_due(true);
    if (!i) i = next_due(false);
    if (i) {
        cursor_ = (*i + 1) % slots_.size();
        return job_for(*i, now, false);
    }
    if (next_refresh(now) > now) return std::nullopt;
    return job_for(*stalest(), now, true);
}

Clock::time_point Schedule::next_refresh(Clock::time_point now) const {
    const std::optional<size_t> oldest = stalest();
    if (patch_->bus.refresh.count() == 0 || !oldest) return Clock::time_point::max();
    return slots_[*oldest].shown + patch_->bus.refresh - refresh_lead(now);
}

void Schedule::sent(Clock::duration took, Clock::time_point now) {
    if (took < longest(now)) return;
    longest_ = took;
    longest_at_ = now;
}

void Schedule::failed(const Job& job) {
    for (uint32_t address : job.covers)
        for (size_t i = 0; i < slots_.size(); i++)
            if (patch_->fixtures[i].address == address) forget_on_bus(slots_[i], job.changed);
}

bool Schedule::due() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return s.due(); });
}

std::vector<FixtureView> Schedule::fixtures() const {
    std::vector<FixtureView> out;
    out.reserve(slots_.size());
    for (const Slot& s : slots_) out.push_back({s.wanted(), s.on_bus, s.shown});
    return out;
}

}  // namespace tivgate
