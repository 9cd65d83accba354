#include "tools/tivgate/status_line.h"

#include <cinttypes>
#include <cstdio>

#include "tools/tivgate/notify.h"

namespace tivgate {

std::string status_text(const Snapshot& s, double dmx_hz) {
    char text[512];
    const long long since = std::chrono::duration_cast<std::chrono::seconds>(s.taken - s.line.since).count();
    if (s.line.state == LineState::lost) {
        std::snprintf(text, sizeof text, "bus lost %lld s ago, waiting for %s", since, s.line.device.c_str());
    } else if (s.line.state == LineState::opening) {
        std::snprintf(text, sizeof text, "bus on %s not open for %lld s, retrying", s.line.device.c_str(), since);
    } else {
        std::snprintf(text, sizeof text, "bus on %s, %zu fixtures, olad %s, DMX %.0f Hz, %" PRIu64 " looks sent",
                      s.line.device.c_str(), s.fixtures.size(), s.source.connected ? "connected" : "not connected",
                      dmx_hz, s.counts.sent);
    }
    return text;
}

double RateMeter::update(uint64_t count, Clock::time_point now) {
    if (at_ != Clock::time_point{} && now > at_)
        rate_ = (double)(count - count_) / std::chrono::duration<double>(now - at_).count();
    count_ = count;
    at_ = now;
    return rate_;
}

void StatusReporter::tick(const Snapshot& snapshot) {
    const std::string text = status_text(snapshot, dmx_.update(snapshot.counts.frames, snapshot.taken));
    if (text == last_) return;
    last_ = text;
    notify_status(text);
}

}  // namespace tivgate
