// Streaming decoder for the bytes the library sends: the inverse of the
// frame encoder. Bytes may arrive in chunks of any size; every frame, good
// or malformed, and every run of bytes outside a frame comes out as one
// DecodedFrame, in stream order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/sim_clock.h"

namespace tivsim {

enum class FrameKind {
    ok,          // complete, CRC matches
    bad_crc,     // complete, CRC does not match
    bad_escape,  // CB followed by something other than 00, 01 (or CA)
    truncated,   // a start byte (or the end of the stream) came before the frame was complete
    oversized,   // would not fit the library's 1000-byte frame buffer
    noise,       // bytes outside any frame; only `wire`, times and offset are set
};

const char* frame_kind_name(FrameKind kind);  // "ok", "bad_crc", ...

struct DecodedFrame {
    FrameKind kind = FrameKind::noise;
    uint32_t address = 0;  // 24 bits; valid once has_header()
    uint16_t length = 0;   // declared payload length; valid once has_header()
    uint8_t command = 0;   // valid once has_header()
    std::vector<uint8_t> payload;  // as much as was received
    uint16_t crc_received = 0;     // valid for ok and bad_crc
    uint16_t crc_computed = 0;     // valid for ok and bad_crc
    unsigned escapes = 0;          // escape pairs undone
    std::vector<uint8_t> wire;     // raw bytes as received, start byte first
    std::vector<uint8_t> logical;  // unstuffed bytes, start byte first
    Nanos first_time{0};           // arrival of the first and last wire byte
    Nanos last_time{0};
    uint64_t offset = 0;  // stream position of the first wire byte

    bool has_header() const;
    bool crc_ok() const { return kind == FrameKind::ok; }
    friend bool operator==(const DecodedFrame&, const DecodedFrame&) = default;
};

class FrameDecoder {
public:
    // Decodes `bytes`, all of which arrived at time `t`; finished items are
    // appended to `out`.
    void feed(std::span<const uint8_t> bytes, Nanos t, std::vector<DecodedFrame>& out);

    // Reports a pending run of noise now instead of at the next start byte
    // (the bus does this once the line has been quiet for a while).
    void flush_noise(std::vector<DecodedFrame>& out);

    // End of the stream: pending noise, and an unfinished frame as truncated.
    void finish(std::vector<DecodedFrame>& out);

    bool in_frame() const { return state_ != State::idle; }
    bool has_noise() const { return !noise_.wire.empty(); }
    size_t noise_size() const { return noise_.wire.size(); }
    uint64_t bytes_seen() const { return offset_; }

private:
    enum class State { idle, frame, escape };

    void on_byte(uint8_t b, Nanos t, std::vector<DecodedFrame>& out);
    void begin_frame(Nanos t, std::vector<DecodedFrame>& out);
    void add_noise(uint8_t b, Nanos t);
    void add_wire(uint8_t b, Nanos t);
    void add_logical(uint8_t b, std::vector<DecodedFrame>& out);
    void complete_frame(std::vector<DecodedFrame>& out);
    void emit_frame(FrameKind kind, std::vector<DecodedFrame>& out);

    State state_ = State::idle;
    DecodedFrame frame_;  // the frame being assembled while state_ != idle
    DecodedFrame noise_;  // the noise run being gathered while idle
    uint64_t offset_ = 0;
};

// Decodes a whole buffer at time t and reports whatever is pending at its end.
std::vector<DecodedFrame> decode_all(std::span<const uint8_t> bytes, Nanos t = Nanos{0});

}  // namespace tivsim
