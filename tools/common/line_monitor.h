// The bus monitor's core: bytes in, one text line per decoded frame, noise
// run or malformed frame out, with counts for a closing summary. Works the
// same on a live line and on a capture file read back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "sim/frame_decoder.h"
#include "sim/sim_clock.h"

namespace tivtools {

struct MonitorCounts {
    uint64_t bytes = 0;
    uint64_t good = 0;
    uint64_t bad_crc = 0;
    uint64_t malformed = 0;  // bad escape, truncated, oversized
    uint64_t noise_bytes = 0;

    uint64_t frames() const { return good + bad_crc + malformed; }
};

class LineMonitor {
public:
    using Emit = std::function<void(const std::string& line)>;

    // Noise is reported once the line has been quiet for `quiet`. After
    // `frame_limit` frames (0: no limit) nothing more is reported.
    explicit LineMonitor(Emit emit, uint64_t frame_limit = 0,
                         tivsim::Nanos quiet = std::chrono::milliseconds(20));

    void feed(std::span<const uint8_t> bytes, tivsim::Nanos t);
    void idle(tivsim::Nanos now);  // call while no bytes arrive
    void finish();                 // end of the stream

    const MonitorCounts& counts() const { return counts_; }
    bool limit_reached() const { return frame_limit_ && counts_.frames() >= frame_limit_; }
    std::string summary() const;  // "12 frames (11 ok, 1 bad crc, 0 malformed), 3 noise bytes, 130 bytes"

private:
    void emit_items();

    Emit emit_;
    uint64_t frame_limit_;
    tivsim::Nanos quiet_;
    tivsim::FrameDecoder decoder_;
    std::vector<tivsim::DecodedFrame> items_;
    std::optional<tivsim::Nanos> origin_;
    std::optional<tivsim::Nanos> previous_end_;
    tivsim::Nanos last_byte_{0};
    MonitorCounts counts_;
};

// Feeds the bytes the library sent (rx records) of a capture file through
// `monitor` at their recorded times, one record at a time; false with a
// reason on a bad file, which may come after some frames were shown.
bool replay_capture(const std::string& path, LineMonitor& monitor, std::string& error);

}  // namespace tivtools
