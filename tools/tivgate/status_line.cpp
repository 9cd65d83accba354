#include "tools/tivgate/status_line.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "tools/tivgate/notify.h"

namespace tivgate {

namespace {

// "; identify group 2 (now 0x010002), 38 s left"
std::string override_text(const Snapshot& s) {
    if (!s.override_view) return {};
    const OverrideView& o = *s.override_view;
    const long long left = std::chrono::duration_cast<std::chrono::seconds>(o.ends - s.taken).count();
    return "; " + o.kind + " " + o.target + (o.now.empty() ? "" : " (now " + o.now + ")") + ", " +
           std::to_string(std::max(0LL, left)) + " s left";
}

}  // namespace

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
    return text + override_text(s);
}

void StatusReporter::tick(const Snapshot& snapshot) {
    const std::string text = status_text(snapshot);
    if (text == last_) return;
    last_ = text;
    notify_status(text);
}

}  // namespace tivgate
