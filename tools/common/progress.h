// What the download progress display shows, computed from the library's
// e2_percent, the image length and the time since the download started.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace tivtools {

using Millis = std::chrono::milliseconds;

struct ProgressSample {
    int percent = 0;        // e2_percent as read
    uint32_t total = 0;     // image bytes
    Millis elapsed{0};
    bool finished = false;  // the worker has ended: everything was sent
};

// Bytes already written when the worker shows `percent`: it publishes
// i * 100 / total before sending byte i, so that is the smallest such i.
uint32_t bytes_done(int percent, uint32_t total);

// Image bytes a stopped worker has sent, from the last percent it published
// before its closing reset: it sends byte i right after publishing
// i * 100 / total, so one percent may cover several bytes. 0 covers the
// case that no byte went out at all.
struct ByteRange {
    uint32_t low = 0, high = 0;
};
ByteRange bytes_sent(int last_percent, uint32_t total);

// Remaining time by the pace so far; empty before the first byte is done.
std::optional<Millis> time_left(const ProgressSample& s);

// "1:05" (minutes and seconds), "--:--" when unknown.
std::string clock_text(std::optional<Millis> t);

// One terminal line (no line break), fitted to `width` columns:
// "[#####-----]  42%  13/31 bytes  0:01 elapsed  0:02 left".
std::string progress_bar(const ProgressSample& s, int width);

// One line for logs: "download 42% 13/31 bytes, 0:01 elapsed, 0:02 left".
std::string progress_line(const ProgressSample& s);

}  // namespace tivtools
