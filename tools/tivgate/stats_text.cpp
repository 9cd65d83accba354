#include "tools/tivgate/stats_text.h"

#include <algorithm>
#include <cstdio>

namespace tivgate {

namespace {

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const size_t i = std::min(sorted.size() - 1, (size_t)(p * (double)(sorted.size() - 1) + 0.5));
    return sorted[i];
}

std::string line(const char* name, uint64_t value) { return std::string(name) + ": " + std::to_string(value); }

}  // namespace

std::vector<std::string> stats_lines(const SchedulerCounts& c, std::vector<double> latency_ms) {
    std::sort(latency_ms.begin(), latency_ms.end());
    char latency[160];
    std::snprintf(latency, sizeof latency,
                  "latency, DMX change to first frame: median %.2f ms, p99 %.2f ms over %zu sends",
                  percentile(latency_ms, 0.5), percentile(latency_ms, 0.99), latency_ms.size());
    return {line("DMX frames received", c.frames),
            line("fixture changes received", c.changes),
            line("looks sent", c.sent),
            line("changes coalesced", c.coalesced),
            line("sends failed", c.failed),
            line("looks refreshed", c.refreshes),
            line("group looks sent", c.group_looks),
            line("device looks saved by group looks", c.saved),
            latency};
}

}  // namespace tivgate
