#include "tools/tivgate/status_line.h"

#include <cinttypes>
#include <cstdio>

#include "tools/tivgate/notify.h"

namespace tivgate {

std::string status_text(const Snapshot& s) {
    char text[512];
    const long long since = std::chrono::duration_cast<std::chrono::seconds>(s.taken - s.line.since).count();
    if (s.line.state == LineState::lost) {
        std::snprintf(text, sizeof text, "bus lost %lld s ago, waiting for %s", since, s.line.device.c_str());
    } else if (s.line.state == LineState::opening) {
        std::snprintf(text, sizeof text, "bus on %s not open for %lld s, retrying", s.line.device.c_str(), since);
    } else {
        std::snprintf(text, sizeof text, "bus on %s, %zu fixtures, olad %s, DMX %.0f Hz, %" PRIu64 " looks sent",
                      s.line.device.c_str(), s.fixtures.size(), s.source.connected ? "connected" : "not connected",
                      s.dmx_per_s, s.counts.sent);
    }
    return text;
}

void StatusReporter::tick(const Snapshot& snapshot) {
    const std::string text = status_text(snapshot);
    if (text == last_) return;
    last_ = text;
    notify_status(text);
}

}  // namespace tivgate
