#include "tools/common/frame_text.h"

#include <cstdio>

#include "sim/protocol.h"
#include "tools/common/count_text.h"

namespace tivtools {

namespace {

double millis(tivsim::Nanos t) { return (double)t.count() / 1e6; }

std::string printf_text(const char* format, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

std::string timing(const tivsim::DecodedFrame& f, tivsim::Nanos origin, std::optional<tivsim::Nanos> previous_end) {
    std::string s = printf_text("%10.3f ms", millis(f.first_time - origin));
    s += previous_end ? printf_text("  (+%8.1f ms)", millis(f.first_time - *previous_end)) : std::string(15, ' ');
    return s;
}

std::string header_text(const tivsim::DecodedFrame& f) {
    return printf_text("  0x%06X  len %-3u  ", f.address, f.length) + command_text(f.command);
}

std::string tail_text(const tivsim::DecodedFrame& f) {
    using tivsim::FrameKind;
    std::string s;
    switch (f.kind) {
    case FrameKind::ok: s = printf_text("  crc %04X ok", f.crc_received); break;
    case FrameKind::bad_crc:
        s = printf_text("  crc %04X BAD (want %04X)", f.crc_received, f.crc_computed);
        break;
    default: s = std::string("  MALFORMED ") + tivsim::frame_kind_name(f.kind); break;
    }
    if (f.escapes) s += printf_text("  esc %u", f.escapes);
    return s;
}

}  // namespace

std::string command_text(uint8_t command) {
    const char* name = tivsim::command_name(command);
    return name ? printf_text("%s (%02X)", name, command) : printf_text("cmd 0x%02X", command);
}

std::string hex_text(const std::vector<uint8_t>& bytes, size_t limit) {
    std::string s;
    for (size_t i = 0; i < bytes.size() && i < limit; i++) s += printf_text(i ? " %02X" : "%02X", bytes[i]);
    if (bytes.size() > limit) s += printf_text(" ... (+%zu more)", bytes.size() - limit);
    return s;
}

std::string frame_line(const tivsim::DecodedFrame& f, tivsim::Nanos origin,
                       std::optional<tivsim::Nanos> previous_end) {
    std::string s = timing(f, origin, previous_end);
    if (f.kind == tivsim::FrameKind::noise)
        return s + "  noise " + count_text(f.wire.size(), "byte") + ": " + hex_text(f.wire);
    if (!f.has_header()) return s + "  MALFORMED " + tivsim::frame_kind_name(f.kind) + ": " + hex_text(f.wire);
    s += header_text(f);
    if (!f.payload.empty()) s += "  " + hex_text(f.payload);
    return s + tail_text(f);
}

std::vector<std::string> log_lines(const std::vector<tivsim::DecodedFrame>& log) {
    std::vector<std::string> lines;
    if (log.empty()) return lines;
    const tivsim::Nanos origin = log.front().first_time;
    std::optional<tivsim::Nanos> previous_end;
    for (const auto& f : log) {
        lines.push_back(frame_line(f, origin, previous_end));
        previous_end = f.last_time;
    }
    return lines;
}

}  // namespace tivtools
