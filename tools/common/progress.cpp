#include "tools/common/progress.h"

#include <algorithm>
#include <cstdio>

namespace tivtools {

uint32_t bytes_done(int percent, uint32_t total) {
    if (total == 0 || percent <= 0) return 0;
    const uint64_t p = (uint64_t)std::min(percent, 100);
    return (uint32_t)std::min<uint64_t>((p * total + 99) / 100, total);
}

ByteRange bytes_sent(int last_percent, uint32_t total) {
    if (total == 0) return {};
    const uint64_t p = (uint64_t)std::clamp(last_percent, 0, 99);
    // The last byte that publishes p, then one more for the byte's own index.
    const uint32_t last = (uint32_t)std::min<uint64_t>(((p + 1) * total - 1) / 100, total - 1) + 1;
    return {p == 0 ? 0 : bytes_done((int)p, total) + 1, last};
}

static uint32_t shown_bytes(const ProgressSample& s) { return s.finished ? s.total : bytes_done(s.percent, s.total); }

static int shown_percent(const ProgressSample& s) { return s.finished ? 100 : std::clamp(s.percent, 0, 99); }

std::optional<Millis> time_left(const ProgressSample& s) {
    if (s.finished) return Millis{0};
    const uint32_t done = shown_bytes(s);
    if (done == 0) return std::nullopt;
    return Millis{s.elapsed.count() * (int64_t)(s.total - done) / done};
}

std::string clock_text(std::optional<Millis> t) {
    if (!t) return "--:--";
    const long long seconds = t->count() / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld", seconds / 60, seconds % 60);
    return buf;
}

static std::string figures(const ProgressSample& s, const char* percent_format, const char* separator) {
    char percent[8];
    std::snprintf(percent, sizeof percent, percent_format, shown_percent(s));
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s%%%s%u/%u bytes%s%s elapsed%s%s left", percent, separator,
                  shown_bytes(s), s.total, separator, clock_text(s.elapsed).c_str(), separator,
                  clock_text(time_left(s)).c_str());
    return buf;
}

std::string progress_bar(const ProgressSample& s, int width) {
    const std::string tail = figures(s, "%3d", "  ");
    const int bar = std::clamp(width - (int)tail.size() - 4, 0, 50);
    if (bar < 5) return tail.substr(0, (size_t)std::max(width, 0));
    const int filled = shown_percent(s) * bar / 100;
    return "[" + std::string((size_t)filled, '#') + std::string((size_t)(bar - filled), '-') + "]  " + tail;
}

std::string progress_line(const ProgressSample& s) { return "download " + figures(s, "%d", ", "); }

}  // namespace tivtools
