#include "tools/tivgate/scheduler.h"

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
void offer(Scheduler& s, const std::vector<Look>& looks, Clock::time_point t) {
    std::vector<uint8_t> slots;
    for (const Look& l : looks)
        for (int shift : {24, 16, 8, 0}) slots.push_back((uint8_t)(l.colour >> shift));
    s.offer(1, slots, t);
}

TEST(Scheduler, LatestValueWinsAndOnlyChangesGoOut) {
    Scheduler s(devices(2));
    for (uint32_t c = 1; c <= 10; c++) offer(s, {Look{c, 0}, Look{7, 0}}, t0 + std::chrono::milliseconds(c));
    std::vector<Job> out;
    while (auto job = s.take(t0)) out.push_back(*job);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].look.colour, 10u);
    EXPECT_EQ(out[0].changed, t0 + 1ms) << "latency counts from the oldest change the send carries";
    EXPECT_EQ(out[1].look.colour, 7u);
    EXPECT_EQ(s.counts().coalesced, 9u);

    offer(s, {Look{10, 0}, Look{7, 0}}, t0 + 20ms);  // the same frame again
    EXPECT_FALSE(s.take(t0));
    offer(s, {Look{11, 0}, Look{7, 0}}, t0 + 21ms);
    offer(s, {Look{10, 0}, Look{7, 0}}, t0 + 22ms);  // back to what the bus shows
    EXPECT_FALSE(s.take(t0));
}

TEST(Scheduler, FailedSendGoesOutAgainAndImposedLookIsNoSourceActivity) {
    Scheduler s(devices(1));
    s.impose(Look{5, 0}, t0);
    EXPECT_FALSE(s.last_offer());
    auto job = s.take(t0);
    ASSERT_TRUE(job);
    s.requeue(*job);
    auto again = s.take(t0);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->look.colour, 5u);
    EXPECT_EQ(s.counts().failed, 1u);
}

// Every fixture changes before every send, the worst case for starvation:
// each send must still carry a change no older than one round of the
// others' costs plus the send that was in hand.
TEST(Scheduler, NoFixtureWaitsLongerThanOneRoundOfTheOthers) {
    const std::vector<Clock::duration> cost = {1ms, 90ms, 2ms, 90ms, 90ms, 1ms, 90ms, 3ms};
    const Clock::duration total = std::accumulate(cost.begin(), cost.end(), Clock::duration{});
    const Clock::duration biggest = *std::max_element(cost.begin(), cost.end());
    Scheduler s(devices(cost.size()));
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
TEST(Scheduler, RefreshRepeatsEveryLookInTimeAndYieldsToChanges) {
    auto p = std::make_shared<Patch>(*devices(8));
    p->bus.refresh = 2s;
    Scheduler s(p);
    offer(s, looks(8, 1), t0);
    Clock::time_point now = t0;
    std::vector<Clock::time_point> shown(8, t0);
    int changes_due = 8;
    while (now < t0 + 10s) {
        if (now >= t0 + 5s && s.counts().sent == 8) offer(s, looks(8, 2), now), changes_due = 8;
        auto job = s.take(now);
        if (!job) {
            now = std::max(now, std::min(s.next_refresh(), now + 100ms));
            continue;
        }
        const size_t i = job->address - 0x010001;
        EXPECT_LE(now + 90ms - shown[i], 2s) << "fixture " << i << " repeated late";
        EXPECT_EQ(job->refresh, changes_due == 0) << "a change goes before any refresh";
        changes_due -= !job->refresh;
        s.record_send(*job, now, now + 90ms);
        shown[i] = now += 90ms;
    }
    EXPECT_GE(s.counts().refreshes, 8u * 3);
    EXPECT_EQ(s.counts().sent, 16u);
}

TEST(Scheduler, WaitEndsOnWorkOrStop) {
    Scheduler s(devices(1));
    offer(s, looks(1, 1), Clock::now());
    const auto start = Clock::now();
    s.wait(start + 10s);
    s.stop();
    s.pause(start + 10s);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_TRUE(s.stopping());
}

}  // namespace
}  // namespace tivgate
