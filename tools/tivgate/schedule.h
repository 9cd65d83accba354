// Which look goes on the bus next: the scheduling policy, a plain
// single-threaded object. It knows nothing of threads, counters or the
// library; class Gateway puts a lock around it and counts what it does, and
// the unit tests drive it with a clock of their own.
//
// Each fixture has the look its source wants and the look the bus was last
// given (none: unknown). A fixture is due exactly when it wants a look the
// bus is not known to show; nothing else marks it.
//
// Fairness: take() walks the fixtures round-robin from the one after the
// last it gave out. A due fixture is therefore given out after at most one
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
// Overrides (identify, test patterns) force looks on top of the source's:
// a fixture wants its forced look while it has one, else the source's. So
// the source goes on being followed underneath, and ending an override
// makes each fixture due at once with its current look. A forced look that
// is due goes out before the source's changes: someone is watching for it.
//
// Refresh: when nothing is due, the look shown longest ago is sent again
// once it is older than the refresh time less the time a whole round of
// looks may take, so that every look is repeated within the refresh time
// while the bus has room. Only a look the fixture wants and the bus was
// given is repeated. A refresh is one look, so a change waits behind at most
// the refresh in hand.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
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
    bool forced = false;           // an override's look, not the source's
    std::vector<uint32_t> covers;  // fixture addresses this look settles
    uint32_t saved = 0;            // device looks a group look made unnecessary
};

// What a DMX frame or an imposed look did to the fixtures' wishes.
struct Changes {
    uint32_t changed = 0;    // fixtures that now want another look
    uint32_t coalesced = 0;  // of them, ones whose earlier change had not gone out
    bool due = false;        // some fixture is due now
};

// One fixture as the schedule sees it, for status pages.
struct FixtureView {
    std::optional<Look> wanted;  // forced, else the source's
    std::optional<Look> on_bus;
    Clock::time_point shown{};  // when on_bus went out
};

class Schedule {
public:
    // The patch's startup look, if any, is every fixture's wish from here
    // until the first DMX frame; the bus loop takes nothing before the port
    // opens, so it goes out once the port first opens.
    explicit Schedule(std::shared_ptr<const Patch> patch, Clock::time_point now = {});

    const std::shared_ptr<const Patch>& patch() const { return patch_; }

    // A DMX frame of the patch's universe.
    Changes offer(std::span<const uint8_t> slots, Clock::time_point now);
    // A look the gateway sets itself on every fixture (the source-loss look).
    Changes impose(const Look& look, Clock::time_point now);
    // Puts `patch` in force. Fixtures kept with the same address, channel
    // and mode keep their state; new and changed ones take their look from
    // the last DMX frame at once. What the bus shows at a kept address stays
    // known, so only a look that differs goes out. A new universe gives no
    // look until its first frame. True when the universe changed.
    bool replace(std::shared_ptr<const Patch> patch, Clock::time_point now);
    // The devices may have restarted (the line came back): every look the
    // fixtures want goes out again.
    void resend_all(Clock::time_point now);
    // Forces forced[i] on fixture i, on top of the source's look; an empty
    // entry, or one past the end, follows the source again. Ending the last
    // forced look sends the devices outside a group that took a forced group
    // look their own looks again: an incomplete member list (what identify
    // --group is there to find) lets a group look reach them too.
    // True when some fixture is due.
    bool force(const std::vector<std::optional<Look>>& forced, Clock::time_point now);

    // The next look to send, or nothing. Its look counts as on the bus from
    // here on.
    std::optional<Job> take(Clock::time_point now);
    // A send that went out whole and how long it took: the refresh's lead
    // follows the longest recent one.
    void sent(Clock::duration took, Clock::time_point now);
    // A send that failed: what it covered is unknown on the bus now and due
    // again, its oldest change kept.
    void failed(const Job& job);

    bool due() const;
    // When take() will next have a refresh to give; max() when never.
    Clock::time_point next_refresh(Clock::time_point now) const;

    std::vector<FixtureView> fixtures() const;

private:
    struct Slot {
        std::optional<Look> source;  // the source's last word
        std::optional<Look> forced;  // an override's look
        std::optional<Look> on_bus;  // the last look given out; none: unknown
        Clock::time_point changed{};  // when it turned due
        Clock::time_point shown{};    // when on_bus went out
        int group = -1;               // index into the patch's groups
        const std::optional<Look>& wanted() const { return forced ? forced : source; }
        bool due() const { return wanted() && wanted() != on_bus; }
    };
    Changes want(Slot& s, std::optional<Look> look, Clock::time_point now);
    bool set_forced(Slot& s, std::optional<Look> look, Clock::time_point now);
    std::optional<size_t> next_due(bool forced_only) const;
    void resend_outside_forced_groups(Clock::time_point now);
    void forget_on_bus(Slot& s, Clock::time_point changed);
    bool group_agrees(const Group& g) const;
    Job job_for(size_t i, Clock::time_point now, bool refresh);
    std::optional<size_t> stalest() const;
    Clock::duration refresh_lead(Clock::time_point now) const;
    Clock::duration longest(Clock::time_point now) const;
    std::optional<size_t> kept_slot(const Fixture& f) const;  // the old slot of the same address and mode

    std::shared_ptr<const Patch> patch_;
    std::vector<Slot> slots_;     // as the patch's fixtures
    std::vector<uint8_t> frame_;  // the last DMX frame
    size_t cursor_ = 0;           // the fixture take() looks at first
    std::vector<bool> forced_group_sent_;  // per declared group: a forced look went to its address
    // The longest recent send, halving every kLongestDecay, for the refresh's lead.
    Clock::duration longest_{};
    Clock::time_point longest_at_{};
};

}  // namespace tivgate
