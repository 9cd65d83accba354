#include "tools/common/line_monitor.h"

#include <cstdio>

#include "sim/capture_file.h"
#include "tools/common/count_text.h"
#include "tools/common/frame_text.h"

namespace tivtools {

namespace {

constexpr size_t kNoiseRunLimit = 64 * 1024;

}  // namespace

LineMonitor::LineMonitor(Emit emit, uint64_t frame_limit, tivsim::Nanos quiet)
    : emit_(std::move(emit)), frame_limit_(frame_limit), quiet_(quiet) {}

void LineMonitor::feed(std::span<const uint8_t> bytes, tivsim::Nanos t) {
    if (bytes.empty() || limit_reached()) return;
    // A quiet stretch before these bytes ends a pending noise run first.
    idle(t);
    counts_.bytes += bytes.size();
    last_byte_ = t;
    decoder_.feed(bytes, t, items_);
    // A line that never goes quiet (or a capture whose times never move)
    // would otherwise gather its noise without end.
    if (decoder_.noise_size() >= kNoiseRunLimit) decoder_.flush_noise(items_);
    emit_items();
}

void LineMonitor::idle(tivsim::Nanos now) {
    if (decoder_.has_noise() && now - last_byte_ >= quiet_) {
        decoder_.flush_noise(items_);
        emit_items();
    }
}

void LineMonitor::finish() {
    decoder_.finish(items_);
    emit_items();
}

void LineMonitor::emit_items() {
    using tivsim::FrameKind;
    for (const tivsim::DecodedFrame& item : items_) {
        if (limit_reached()) break;
        if (!origin_) origin_ = item.first_time;
        emit_(frame_line(item, *origin_, previous_end_));
        previous_end_ = item.last_time;
        switch (item.kind) {
        case FrameKind::ok: counts_.good++; break;
        case FrameKind::bad_crc: counts_.bad_crc++; break;
        case FrameKind::noise: counts_.noise_bytes += item.wire.size(); break;
        default: counts_.malformed++; break;
        }
    }
    items_.clear();
}

std::string LineMonitor::summary() const {
    char buf[200];
    std::snprintf(buf, sizeof buf, " (%llu ok, %llu bad crc, %llu malformed), ", (unsigned long long)counts_.good,
                  (unsigned long long)counts_.bad_crc, (unsigned long long)counts_.malformed);
    return count_text(counts_.frames(), "frame") + buf + count_text(counts_.noise_bytes, "noise byte") + ", " +
           count_text(counts_.bytes, "byte");
}

bool replay_capture(const std::string& path, LineMonitor& monitor, std::string& error) {
    tivsim::CaptureReader reader;
    if (!reader.open(path, error)) return false;
    tivsim::CaptureRecord r;
    for (;;) {
        switch (reader.next(r, error)) {
        case tivsim::CaptureReader::Next::record:
            if (r.direction == tivsim::Direction::rx) monitor.feed(r.bytes, r.time);
            break;
        case tivsim::CaptureReader::Next::end: monitor.finish(); return true;
        case tivsim::CaptureReader::Next::bad: return false;
        }
    }
}

}  // namespace tivtools
