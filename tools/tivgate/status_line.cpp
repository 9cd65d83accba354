#include "tools/tivgate/status_line.h"

#include <cinttypes>
#include <cstdio>

#include "tools/tivgate/notify.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;

constexpr auto kEvery = 5s;

}  // namespace

std::string status_text(const StatusFacts& f, Clock::time_point now) {
    char text[512];
    if (!f.line.open) {
        const auto gone = std::chrono::duration_cast<std::chrono::seconds>(now - f.line.since).count();
        std::snprintf(text, sizeof text, "bus lost %lld s ago, retrying", (long long)gone);
    } else {
        std::snprintf(text, sizeof text, "bus on %s, %zu fixtures, olad %s, DMX %.0f Hz, %" PRIu64 " looks sent",
                      f.line.device.c_str(), f.fixtures, f.olad ? "connected" : "not connected", f.dmx_hz,
                      f.looks_sent);
    }
    return text;
}

void StatusReporter::tick(const Scheduler& scheduler, const LineReport& line, bool olad, Clock::time_point now) {
    const SchedulerCounts counts = scheduler.counts();
    if (now - frames_at_ >= 1s) {
        if (frames_at_ != Clock::time_point{})
            hz_ = (double)(counts.frames - frames_) / std::chrono::duration<double>(now - frames_at_).count();
        frames_ = counts.frames;
        frames_at_ = now;
    }
    const StatusFacts facts{line.view(), scheduler.patch()->fixtures.size(), olad, hz_, counts.sent};
    const std::string state = (facts.line.open ? "open " : "lost ") + facts.line.device + (olad ? " olad" : "");
    if (state == last_state_ && now - last_sent_ < kEvery) return;
    last_state_ = state;
    last_sent_ = now;
    notify_status(status_text(facts, now));
}

}  // namespace tivgate
