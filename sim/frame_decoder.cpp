#include "sim/frame_decoder.h"

#include <utility>

#include "sim/crc16_modbus.h"
#include "sim/protocol.h"

namespace tivsim {

const char* frame_kind_name(FrameKind kind) {
    switch (kind) {
    case FrameKind::ok: return "ok";
    case FrameKind::bad_crc: return "bad_crc";
    case FrameKind::bad_escape: return "bad_escape";
    case FrameKind::truncated: return "truncated";
    case FrameKind::oversized: return "oversized";
    case FrameKind::noise: return "noise";
    }
    return "?";
}

bool DecodedFrame::has_header() const {
    return kind != FrameKind::noise && logical.size() >= kHeaderSize;
}

void FrameDecoder::feed(std::span<const uint8_t> bytes, Nanos t, std::vector<DecodedFrame>& out) {
    for (uint8_t b : bytes) {
        on_byte(b, t, out);
        ++offset_;
    }
}

void FrameDecoder::flush_noise(std::vector<DecodedFrame>& out) {
    if (noise_.wire.empty()) return;
    out.push_back(std::move(noise_));
    noise_ = DecodedFrame{};
}

void FrameDecoder::finish(std::vector<DecodedFrame>& out) {
    if (in_frame()) emit_frame(FrameKind::truncated, out);
    flush_noise(out);
}

void FrameDecoder::on_byte(uint8_t b, Nanos t, std::vector<DecodedFrame>& out) {
    // 0xCA never occurs inside a frame, so it always starts a new one.
    if (b == kFrameStart) {
        begin_frame(t, out);
        return;
    }
    switch (state_) {
    case State::idle:
        add_noise(b, t);
        return;
    case State::frame:
        // The library stops before storing a logical byte at offset 999.
        if (frame_.wire.size() >= kSendBufSize - 1) {
            add_wire(b, t);
            emit_frame(FrameKind::oversized, out);
            return;
        }
        add_wire(b, t);
        if (b == kFrameEsc)
            state_ = State::escape;
        else
            add_logical(b, out);
        return;
    case State::escape:
        add_wire(b, t);
        if (b != kEscStart && b != kEscEsc) {
            emit_frame(FrameKind::bad_escape, out);
            return;
        }
        ++frame_.escapes;
        state_ = State::frame;
        add_logical(b == kEscStart ? kFrameStart : kFrameEsc, out);
        return;
    }
}

void FrameDecoder::begin_frame(Nanos t, std::vector<DecodedFrame>& out) {
    if (in_frame()) emit_frame(FrameKind::truncated, out);
    flush_noise(out);
    frame_ = DecodedFrame{};
    frame_.offset = offset_;
    frame_.first_time = t;
    add_wire(kFrameStart, t);
    frame_.logical.push_back(kFrameStart);
    state_ = State::frame;
}

void FrameDecoder::add_noise(uint8_t b, Nanos t) {
    if (noise_.wire.empty()) {
        noise_.offset = offset_;
        noise_.first_time = t;
    }
    noise_.wire.push_back(b);
    noise_.last_time = t;
}

void FrameDecoder::add_wire(uint8_t b, Nanos t) {
    frame_.wire.push_back(b);
    frame_.last_time = t;
}

void FrameDecoder::add_logical(uint8_t b, std::vector<DecodedFrame>& out) {
    std::vector<uint8_t>& l = frame_.logical;
    l.push_back(b);
    const size_t n = l.size();
    if (n == 4) frame_.address = (uint32_t)l[1] << 16 | (uint32_t)l[2] << 8 | l[3];
    if (n == 6) {
        frame_.length = (uint16_t)(l[4] << 8 | l[5]);
        if (frame_.length > kMaxPayload) {
            emit_frame(FrameKind::oversized, out);
            return;
        }
    }
    if (n == kHeaderSize) frame_.command = b;
    if (n > kHeaderSize && n <= kHeaderSize + frame_.length) frame_.payload.push_back(b);
    if (n == kHeaderSize + frame_.length + kCrcSize) complete_frame(out);
}

void FrameDecoder::complete_frame(std::vector<DecodedFrame>& out) {
    const std::vector<uint8_t>& l = frame_.logical;
    const size_t crc_at = kHeaderSize + frame_.length;
    frame_.crc_received = (uint16_t)(l[crc_at] << 8 | l[crc_at + 1]);
    frame_.crc_computed = crc16_modbus(std::span(l.data(), crc_at));
    emit_frame(frame_.crc_received == frame_.crc_computed ? FrameKind::ok : FrameKind::bad_crc,
               out);
}

void FrameDecoder::emit_frame(FrameKind kind, std::vector<DecodedFrame>& out) {
    frame_.kind = kind;
    out.push_back(std::move(frame_));
    frame_ = DecodedFrame{};
    state_ = State::idle;
}

std::vector<DecodedFrame> decode_all(std::span<const uint8_t> bytes, Nanos t) {
    FrameDecoder decoder;
    std::vector<DecodedFrame> out;
    decoder.feed(bytes, t, out);
    decoder.finish(out);
    return out;
}

}  // namespace tivsim
