#include "tools/tivgate/bus_loop.h"

#include <tivlink.h>

#include <algorithm>

#include "tools/tivgate/log.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;

// How often the loop looks at the source's clock while nothing is dirty;
// also the most a "DMX is back" line can lag.
constexpr auto kTick = 100ms;
// After a failed send the line is in trouble: retry, but back off so that a
// dead port does not fill the log with the library's reports.
constexpr std::chrono::milliseconds kFirstRetry = 1s;
constexpr std::chrono::milliseconds kLongestRetry = 8s;

class LossWatch {
public:
    LossWatch(const Patch& patch, Scheduler& scheduler) : patch_(patch), scheduler_(scheduler) {}

    // Says when the source falls silent or comes back, and sets the loss look.
    void check(Clock::time_point now) {
        const auto last = scheduler_.last_offer();
        if (!last) return;
        const bool silent = now - *last >= patch_.loss.after;
        if (silent && !lost_) {
            lost_ = true;
            const double s = std::chrono::duration<double>(patch_.loss.after).count();
            if (patch_.loss.look) {
                log_line("no DMX for %.1f s: sending the loss look 0x%08X", s, patch_.loss.look->colour);
                scheduler_.impose(std::vector<Look>(patch_.fixtures.size(), *patch_.loss.look), now);
            } else {
                log_line("no DMX for %.1f s: holding the last look", s);
            }
        } else if (!silent && lost_) {
            lost_ = false;
            log_line("DMX is back");
        }
    }

    // When check() has something new to say at the latest.
    Clock::time_point next(Clock::time_point now) const {
        const auto last = scheduler_.last_offer();
        if (!last || lost_) return now + kTick;
        return std::min(now + kTick, *last + patch_.loss.after);
    }

private:
    const Patch& patch_;
    Scheduler& scheduler_;
    bool lost_ = false;
};

}  // namespace

int send_look(const Fixture& fixture, const Look& look) {
    if (fixture.mode == FixtureMode::rgbw_fade) return fade_rgbx(fixture.address, look.colour, look.fade);
    return set_rgbx(fixture.address, look.colour);
}

void run_bus(const Patch& patch, Scheduler& scheduler) {
    LossWatch loss(patch, scheduler);
    bool failing = false;
    std::chrono::milliseconds retry = kFirstRetry;
    while (!scheduler.stopping()) {
        const Clock::time_point now = Clock::now();
        loss.check(now);
        const std::optional<Job> job = scheduler.take();
        if (!job) {
            scheduler.wait(loss.next(now));
            continue;
        }
        const Clock::time_point started = Clock::now();
        if (send_look(patch.fixtures[job->fixture], job->look) == 0) {
            scheduler.record_send(*job, started);
            if (failing) log_line("the bus takes frames again");
            failing = false;
            retry = kFirstRetry;
            continue;
        }
        scheduler.requeue(*job);
        if (!failing) log_line("a look for 0x%06X was not written whole; retrying", patch.fixtures[job->fixture].address);
        failing = true;
        scheduler.pause(Clock::now() + retry);  // a stop still ends it at once
        retry = std::min(retry * 2, kLongestRetry);
    }
}

}  // namespace tivgate
