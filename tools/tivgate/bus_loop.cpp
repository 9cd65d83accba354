#include "tools/tivgate/bus_loop.h"

#include <algorithm>

#include "tools/tivgate/log.h"
#include "tools/tivgate/look_send.h"
#include "tools/tivgate/notify.h"
#include "tools/tivgate/port_holder.h"
#include "tools/tivgate/source_watch.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;

// A static scene sends nothing, so the line is looked at on its own: a
// device gone or replaced behind its name is noticed within this.
constexpr auto kLineCheck = 1s;
// While the line is lost: how often its name is looked up (a stat, no
// library call), and the backoff between opens once it leads to a device.
constexpr auto kPresenceCheck = 250ms;
constexpr std::chrono::milliseconds kFirstRetry = 250ms;
constexpr std::chrono::milliseconds kLongestRetry = 2s;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class BusLoop {
public:
    BusLoop(Scheduler& scheduler, BusLine& line, LineReport& report)
        : scheduler_(scheduler), line_(line), report_(report), source_(scheduler) {}

    void run() {
        report_.set({true, line_.device(), Clock::now()});
        while (!scheduler_.stopping()) {
            const Clock::time_point now = Clock::now();
            watchdog_.ping_if_due(now);
            source_.check(now);
            if (lost_) recover(now);
            else serve(now);
        }
    }

private:
    void serve(Clock::time_point now) {
        if (now >= next_check_) {
            next_check_ = now + kLineCheck;
            if (!line_.still_there()) return lose("the device behind it is gone or was replaced", now);
        }
        const std::optional<Job> job = scheduler_.take(now);
        if (!job) {
            scheduler_.wait(std::min({source_.next(now), next_check_, scheduler_.next_refresh(), watchdog_.next()}));
            return;
        }
        const Clock::time_point started = Clock::now();
        const int result = send_look(*job);
        const Clock::time_point finished = Clock::now();
        if (result == 0) return scheduler_.record_send(*job, started, finished);
        scheduler_.requeue(*job);
        lose("a look was not written whole", finished);
    }

    void lose(const char* why, Clock::time_point now) {
        log_line("bus lost on %s: %s; reopening it when it is back", line_.path().c_str(), why);
        line_.close();  // lets the kernel drop a dead tty, so that the name can lead to the next one
        lost_ = true;
        lost_since_ = now;
        retry_ = kFirstRetry;
        next_try_ = now;
        said_holder_ = false;
        report_.set({false, line_.device(), now});
    }

    void recover(Clock::time_point now) {
        if (now >= next_try_) {
            next_try_ = now + kPresenceCheck;
            // No library call while the name leads nowhere: no box per try.
            if (line_.present()) {
                if (line_.open()) return back(now);
                say_holder();
                next_try_ = now + retry_;
                retry_ = std::min(retry_ * 2, kLongestRetry);
            }
        }
        scheduler_.pause(std::min({next_try_, source_.next(now), watchdog_.next()}));
    }

    void back(Clock::time_point now) {
        const std::string device = line_.device();
        log_line("bus back on %s (%s) after %.1f s; sending every look again", line_.path().c_str(), device.c_str(),
                 seconds(now - lost_since_));
        lost_ = false;
        next_check_ = now + kLineCheck;
        // The devices may have restarted along with the adapter.
        scheduler_.resend_all(now);
        report_.set({true, device, now});
    }

    void say_holder() {
        if (said_holder_) return;
        said_holder_ = true;
        if (const auto line = port_holder_line(line_.device())) log_line("%s", line->c_str());
    }

    Scheduler& scheduler_;
    BusLine& line_;
    LineReport& report_;
    SourceWatch source_;
    Watchdog watchdog_;
    bool lost_ = false;
    Clock::time_point next_check_{};
    Clock::time_point lost_since_{};
    Clock::time_point next_try_{};
    std::chrono::milliseconds retry_ = kFirstRetry;
    bool said_holder_ = false;  // once per outage
};

}  // namespace

void run_bus(Scheduler& scheduler, BusLine& line, LineReport& report) { BusLoop(scheduler, line, report).run(); }

}  // namespace tivgate
