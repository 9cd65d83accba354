// The bus loop on a fake line and a fake clock: losses and returns, the
// backoff, the journal's quiet while a fault lasts, refresh and idleness.
#include "tools/tivgate/bus_loop.h"

#include <gtest/gtest.h>

#include "tools/tivgate/notify.h"

namespace tivgate {
namespace {

using namespace std::chrono_literals;

const Clock::time_point t0 = Clock::time_point{} + 1h;

struct FakeLine : Line {
    explicit FakeLine(Clock::time_point& now) : now(now) {}
    const std::string& path() const override { return name; }
    std::string device() const override { return "/dev/ttyUSB0"; }
    std::optional<NodeId> node() const override { return there; }
    std::optional<std::string> busy() const override {
        asked_busy.push_back(now);
        return held;
    }
    bool open() override { return (opens++, open_now = !held && !refuse); }
    void close() override { open_now = false; }
    bool send(const Job& job) override {
        now += 90ms;
        sent.push_back(job.look.colour);
        return open_now && failing-- <= 0;
    }

    Clock::time_point& now;
    std::string name = "/dev/serial/by-id/adapter";
    std::optional<NodeId> there = NodeId{5, 100, 0xBC00};
    std::optional<std::string> held;  // busy()'s answer, and open() fails meanwhile
    bool refuse = false;              // open() fails for a reason busy() cannot see
    int failing = 0;                  // sends that fail from now on
    int opens = 0;
    bool open_now = false;
    std::vector<uint32_t> sent;
    mutable std::vector<Clock::time_point> asked_busy;
};

struct Rig {
    explicit Rig(std::chrono::milliseconds refresh = 0ms) {
        auto p = std::make_shared<Patch>();
        p->universe = 1;
        p->bus.refresh = refresh;
        p->fixtures = {{0x010001, 1, FixtureMode::rgbw, 0}, {0x010002, 5, FixtureMode::rgbw, 0}};
        gateway = std::make_unique<Gateway>(p, [] {});
        loop = std::make_unique<BusLoop>(*gateway, line, [this] { return now; });
        set_log_sink([this](Priority p, const std::string& text) { log.push_back({p, text}); });
    }
    ~Rig() { set_log_sink(nullptr); }

    void dmx(uint8_t v) { gateway->offer(1, std::vector<uint8_t>(8, v), now); }
    // The bus thread, with the clock jumping to each time the loop asks for.
    int run_for(Clock::duration d) {
        const Clock::time_point until = now + d;
        int steps = 0;
        while (now < until) {
            const Clock::time_point next = loop->step();
            steps++;
            if (next > now) now = std::min(next, until);
        }
        return steps;
    }
    size_t logged(const std::string& part, Priority p = Priority::warning) const {
        return (size_t)std::count_if(log.begin(), log.end(), [&](auto& l) {
            return l.first == p && l.second.find(part) != std::string::npos;
        });
    }

    Clock::time_point now = t0;
    FakeLine line{now};
    std::unique_ptr<Gateway> gateway;
    std::unique_ptr<BusLoop> loop;
    std::vector<std::pair<Priority, std::string>> log;
};

TEST(BusLoop, AnUnpluggedAdapterIsTakenBackAtOnceWithEveryLook) {
    Rig r;
    r.dmx(7);
    r.run_for(1s);
    ASSERT_EQ(r.line.sent.size(), 2u);
    r.line.there.reset();  // unplugged: the watch wakes the loop
    r.loop->line_changed();
    r.run_for(10ms);
    EXPECT_EQ(r.loop->state(), LineState::lost);
    const int idle_steps = r.run_for(20s);
    EXPECT_LE(idle_steps, 21) << "a name that leads nowhere is looked up once a second";
    r.line.there = NodeId{5, 101, 0xBC00};  // plugged back: the same numbers, a new node
    r.run_for(1s + 200ms);
    EXPECT_EQ(r.loop->state(), LineState::open);
    EXPECT_EQ(r.line.sent.size(), 4u) << "both looks again: the devices may have restarted";
    EXPECT_EQ(r.line.opens, 2);
    EXPECT_EQ(r.logged("bus lost"), 1u);
    EXPECT_EQ(r.logged("bus back", Priority::notice), 1u);
    EXPECT_EQ(r.gateway->counts().losses, 1u);
}

// A port held by another process: the library tries once and says why; the
// tries after it back off to 32 s and never reach the library or the log,
// but for a summary every ten minutes.
TEST(BusLoop, AHeldPortIsToldOnceAndTriedLessAndLessOften) {
    Rig r;
    r.line.held = "in use by another process";
    r.run_for(30min);
    EXPECT_EQ(r.line.opens, 1);
    ASSERT_GE(r.line.asked_busy.size(), 8u);
    std::vector<Clock::duration> gaps;
    for (size_t i = 1; i < r.line.asked_busy.size(); i++) gaps.push_back(r.line.asked_busy[i] - r.line.asked_busy[i - 1]);
    EXPECT_EQ(gaps.front(), 250ms);
    EXPECT_EQ(gaps.back(), 32s);
    EXPECT_TRUE(std::is_sorted(gaps.begin(), gaps.end()));
    EXPECT_EQ(r.logged("cannot open /dev/serial/by-id/adapter"), 1u);
    EXPECT_EQ(r.logged("still so after"), 2u) << "a summary each ten minutes";
    EXPECT_LE(r.log.size(), 4u);
    r.line.held.reset();
    r.run_for(33s);
    EXPECT_EQ(r.loop->state(), LineState::open);
}

// A port that opens and then fails every write: each cycle waits longer,
// the backoff starts again only once the line has held a minute, and the
// outage is told once.
TEST(BusLoop, ALineThatFailsEveryWriteBacksOffUntilItHoldsAMinute) {
    Rig r;
    r.dmx(1);
    r.line.failing = 1000;
    r.run_for(5min);
    EXPECT_LE(r.line.opens, 20) << "not every 3.5 s";
    EXPECT_EQ(r.logged("bus lost"), 1u);
    EXPECT_EQ(r.logged("bus back", Priority::notice), 1u);
    r.line.failing = 0;
    r.run_for(2min);
    EXPECT_EQ(r.line.sent.back(), 0x01010101u);
    EXPECT_EQ(r.logged("over after", Priority::notice), 1u);
    const int opens = r.line.opens;
    r.line.failing = 1;  // one glitch on a steady line: back within the first backoff
    r.dmx(2);
    r.run_for(500ms);
    EXPECT_EQ(r.line.opens, opens + 1);
    EXPECT_EQ(r.line.sent.back(), 0x02020202u);
}

// A look with a frame not written whole is not taken for sent: the line is
// lost and the same look goes out again, whole, on the line reopened.
TEST(BusLoop, APartlyFailedLookGoesOutAgain) {
    Rig r;
    r.run_for(1s);
    r.line.failing = 1;
    r.dmx(9);
    r.run_for(2s);
    EXPECT_EQ(r.gateway->counts().failed, 1u);
    EXPECT_EQ(r.gateway->counts().sent, 2u);
    EXPECT_EQ(r.line.sent, (std::vector<uint32_t>{0x09090909, 0x09090909, 0x09090909}));
}

// With nothing to send the loop sleeps until the next refresh, or for good
// once the line has proved itself; it never polls.
TEST(BusLoop, WakesOnlyForWork) {
    for (const std::chrono::milliseconds refresh : {0ms, 30000ms}) {
        Rig r(refresh);
        r.dmx(3);
        const int steps = r.run_for(10min);
        EXPECT_EQ(r.line.sent.size(), refresh.count() ? 2u + 2 * 20 : 2u);
        EXPECT_LE(steps, 2 * (int)r.line.sent.size() + 4) << "refresh " << refresh.count() << " ms";
    }
}

TEST(Watchdog, VouchesForABusThreadAsleepOrInAShortCall) {
    const Clock::duration every = 5s;
    EXPECT_TRUE(bus_alive(std::nullopt, t0, every));
    EXPECT_TRUE(bus_alive(t0 - 1s, t0, every));
    EXPECT_FALSE(bus_alive(t0 - 6s, t0, every));
}

}  // namespace
}  // namespace tivgate
