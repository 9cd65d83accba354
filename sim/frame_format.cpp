#include "sim/frame_format.h"

#include <cctype>
#include <chrono>
#include <cstdio>

#include "sim/protocol.h"

namespace tivsim {

namespace {

std::string printf_string(const char* format, auto... args) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

std::string upper(const char* s) {
    std::string out(s);
    for (char& c : out) c = (char)std::toupper((unsigned char)c);
    return out;
}

std::string time_and_gap(const DecodedFrame& item, Nanos origin, const DecodedFrame* previous) {
    using Seconds = std::chrono::duration<double>;
    using Millis = std::chrono::duration<double, std::milli>;
    std::string line = printf_string("%12.6f", Seconds(item.first_time - origin).count());
    if (previous)
        line += printf_string("  %+10.3fms", Millis(item.first_time - previous->last_time).count());
    else
        line += printf_string("  %12s", "-");
    return line;
}

std::string command_text(uint8_t command) {
    const char* name = command_name(command);
    return name ? name : printf_string("CMD_%02X", command);
}

}  // namespace

std::string hex_bytes(std::span<const uint8_t> bytes) {
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += printf_string("%02X", b);
    }
    return out;
}

std::string format_frame(const DecodedFrame& item, Nanos origin, const DecodedFrame* previous) {
    std::string line = time_and_gap(item, origin, previous);
    if (item.kind == FrameKind::noise)
        return line + printf_string("  NOISE  %zu bytes  [", item.wire.size()) +
               hex_bytes(item.wire) + "]";
    if (item.has_header())
        line += printf_string("  %06X  %-11s  [", item.address, command_text(item.command).c_str()) +
                hex_bytes(item.payload) + "]";
    else
        line += printf_string("  %6s  %-11s", "------", "-");
    switch (item.kind) {
    case FrameKind::ok:
        line += printf_string("  crc %04X ok", item.crc_received);
        break;
    case FrameKind::bad_crc:
        line += printf_string("  crc %04X bad (%04X)", item.crc_received, item.crc_computed);
        break;
    default:
        line += "  " + upper(frame_kind_name(item.kind)) + "  wire [" + hex_bytes(item.wire) + "]";
        break;
    }
    return line + printf_string("  esc %u", item.escapes);
}

std::vector<std::string> format_log(const std::vector<DecodedFrame>& log) {
    std::vector<std::string> lines;
    const Nanos origin = log.empty() ? Nanos{0} : log.front().first_time;
    for (size_t i = 0; i < log.size(); i++)
        lines.push_back(format_frame(log[i], origin, i ? &log[i - 1] : nullptr));
    return lines;
}

}  // namespace tivsim
