#include "tools/tivgate/stats_text.h"

#include <cstdio>

namespace tivgate {

namespace {

std::string line(const char* name, uint64_t value) { return std::string(name) + ": " + std::to_string(value); }

}  // namespace

std::vector<std::string> stats_lines(const Counts& c, const LatencyHistogram& latency) {
    char text[160];
    std::snprintf(text, sizeof text, "latency, DMX change to first frame: median %.2f ms, p99 %.2f ms over %llu sends",
                  latency.quantile_ms(0.5), latency.quantile_ms(0.99), (unsigned long long)latency.count());
    return {line("DMX frames received", c.frames),
            line("fixture changes received", c.changes),
            line("looks sent", c.sent),
            line("changes coalesced", c.coalesced),
            line("sends failed", c.failed),
            line("looks refreshed", c.refreshes),
            line("group looks sent", c.group_looks),
            line("device looks saved by group looks", c.saved),
            line("line losses", c.losses),
            text};
}

}  // namespace tivgate
