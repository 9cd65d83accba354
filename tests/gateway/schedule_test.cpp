#include "tools/tivgate/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace tivgate {
namespace {

using namespace std::chrono_literals;

const Clock::time_point t0{};

std::vector<Look> looks(size_t n, uint32_t colour) { return std::vector<Look>(n, Look{colour, 0}); }

// n rgbw devices on consecutive slots of universe 1, refresh off.
std::shared_ptr<const Patch> devices(size_t n) {
    auto p = std::make_shared<Patch>();
    p->universe = 1;
    p->bus.refresh = {};
    for (size_t i = 0; i < n; i++)
        p->fixtures.push_back({0x010001 + (uint32_t)i, 1 + 4 * (int)i, FixtureMode::rgbw, 0});
    return p;
}

// The DMX frame that gives fixture i of devices(n) looks[i].
Changes offer(Schedule& s, const std::vector<Look>& looks, Clock::time_point t) {
    std::vector<uint8_t> slots;
    for (const Look& l : looks)
        for (int shift : {24, 16, 8, 0}) slots.push_back((uint8_t)(l.colour >> shift));
    return s.offer(slots, t);
}

TEST(Schedule, LatestValueWinsAndOnlyChangesGoOut) {
    Schedule s(devices(2));
    uint32_t coalesced = 0;
    for (uint32_t c = 1; c <= 10; c++) coalesced += offer(s, {Look{c, 0}, Look{7, 0}}, t0 + std::chrono::milliseconds(c)).coalesced;
    std::vector<Job> out;
    while (auto job = s.take(t0)) out.push_back(*job);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].look.colour, 10u);
    EXPECT_EQ(out[0].changed, t0 + 1ms) << "latency counts from the oldest change the send carries";
    EXPECT_EQ(out[1].look.colour, 7u);
    EXPECT_EQ(coalesced, 9u);

    offer(s, {Look{10, 0}, Look{7, 0}}, t0 + 20ms);  // the same frame again
    EXPECT_FALSE(s.take(t0));
    offer(s, {Look{11, 0}, Look{7, 0}}, t0 + 21ms);
    offer(s, {Look{10, 0}, Look{7, 0}}, t0 + 22ms);  // back to what the bus shows
    EXPECT_FALSE(s.take(t0));
}

TEST(Schedule, FailedSendGoesOutAgainWithItsOldestChange) {
    Schedule s(devices(1));
    s.impose(Look{5, 0}, t0);
    auto job = s.take(t0 + 1s);
    ASSERT_TRUE(job);
    s.failed(*job);
    auto again = s.take(t0 + 2s);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->look.colour, 5u);
    EXPECT_EQ(again->changed, t0);
}

// A reload onto a universe nobody sends on: the kept fixtures have no look
// to want until its first frame, and a refresh may only repeat a look the
// console gave, never an empty one.
TEST(Schedule, AReloadOntoASilentUniverseRefreshesNothing) {
    auto p = std::make_shared<Patch>(*devices(2));
    p->bus.refresh = 1s;
    Schedule s(p);
    offer(s, looks(2, 0x11223344), t0);
    while (s.take(t0)) {
    }
    auto moved = std::make_shared<Patch>(*p);
    moved->universe = 5;
    EXPECT_TRUE(s.replace(moved, t0 + 100ms));
    EXPECT_EQ(s.next_refresh(t0 + 100ms), Clock::time_point::max());
    EXPECT_FALSE(s.take(t0 + 5s));
}

// Every fixture changes before every send, the worst case for starvation:
// each send must still carry a change no older than one round of the
// others' costs plus the send that was in hand.
TEST(Schedule, NoFixtureWaitsLongerThanOneRoundOfTheOthers) {
    const std::vector<Clock::duration> cost = {1ms, 90ms, 2ms, 90ms, 90ms, 1ms, 90ms, 3ms};
    const Clock::duration total = std::accumulate(cost.begin(), cost.end(), Clock::duration{});
    const Clock::duration biggest = *std::max_element(cost.begin(), cost.end());
    Schedule s(devices(cost.size()));
    Clock::time_point now = t0;
    std::vector<int> sends(cost.size());
    for (uint32_t step = 1; step <= 400; step++) {
        offer(s, looks(cost.size(), step), now);
        auto job = s.take(now);
        ASSERT_TRUE(job);
        EXPECT_LE(now - job->changed, biggest + total - cost[job->address - 0x010001]) << "fixture " << job->address;
        EXPECT_EQ(job->look.colour, step) << "the latest look, not an older one";
        sends[job->address - 0x010001]++;
        now += cost[job->address - 0x010001];
    }
    for (int n : sends) EXPECT_EQ(n, 50);
}

// Eight devices set by one frame, each look taking 90 ms: once the bus is
// idle, refreshes come in time for every look to be repeated within the
// refresh time, and never while a change waits.
TEST(Schedule, RefreshRepeatsEveryLookInTimeAndYieldsToChanges) {
    auto p = std::make_shared<Patch>(*devices(8));
    p->bus.refresh = 2s;
    Schedule s(p);
    offer(s, looks(8, 1), t0);
    Clock::time_point now = t0;
    std::vector<Clock::time_point> shown(8, t0);
    int changes_due = 8, sent = 0, refreshes = 0;
    while (now < t0 + 10s) {
        if (now >= t0 + 5s && sent == 8) offer(s, looks(8, 2), now), changes_due = 8;
        auto job = s.take(now);
        if (!job) {
            now = std::max(now, std::min(s.next_refresh(now), now + 100ms));
            continue;
        }
        const size_t i = job->address - 0x010001;
        EXPECT_LE(now + 90ms - shown[i], 2s) << "fixture " << i << " repeated late";
        EXPECT_EQ(job->refresh, changes_due == 0) << "a change goes before any refresh";
        changes_due -= !job->refresh;
        (job->refresh ? refreshes : sent)++;
        s.sent(90ms, now + 90ms);
        shown[i] = now += 90ms;
    }
    EXPECT_GE(refreshes, 8 * 3);
    EXPECT_EQ(sent, 16);
}

// One slow send moves the refreshes early for a while, not for ever.
TEST(Schedule, ALongSendIsForgottenWithTime) {
    auto p = std::make_shared<Patch>(*devices(4));
    p->bus.refresh = 60s;
    Schedule s(p);
    offer(s, looks(4, 1), t0);
    while (s.take(t0)) {
    }
    s.sent(5s, t0);
    const Clock::duration early_now = t0 + 60s - s.next_refresh(t0);
    const Clock::duration early_later = t0 + 60s - s.next_refresh(t0 + 30min);
    EXPECT_EQ(early_now, 20s) << "four looks of 5 s";
    EXPECT_LT(early_later, 1ms);
}

}  // namespace
}  // namespace tivgate
