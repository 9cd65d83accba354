#include "tools/common/number_parse.h"

#include <cstdio>
#include <exception>

namespace tivtools {

namespace {

constexpr uint32_t kAddressMax = 0xFFFFFF;
constexpr uint32_t kPhysicalMin = 0x10000;
constexpr uint32_t kBaudBase = 115200;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

std::string hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", (unsigned long long)v);
    return buf;
}

// Digits of one base, with overflow past `max` reported rather than wrapped:
// `too_large` follows the quoted text, or "is larger than <max>".
Parsed<uint64_t> digits(std::string_view all, std::string_view body, unsigned base, uint64_t max,
                        const char* too_large = nullptr) {
    if (body.empty()) return Parsed<uint64_t>::fail(quoted(all) + " is not a number");
    uint64_t v = 0;
    for (char c : body) {
        int d = hex_digit(c);
        if (d < 0 || (unsigned)d >= base)
            return Parsed<uint64_t>::fail(quoted(all) + " is not a " +
                                          (base == 16 ? "hex number" : "number (decimal, or hex with 0x)"));
        if ((uint64_t)d > max || v > (max - d) / base)
            return Parsed<uint64_t>::fail(quoted(all) + " " + (too_large ? too_large : "is larger than " + hex(max)));
        v = v * base + d;
    }
    return {v, {}};
}

Parsed<uint64_t> unsigned_within(std::string_view text, uint64_t max, const char* too_large = nullptr) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return digits(text, text.substr(2), 16, max, too_large);
    return digits(text, text, 10, max, too_large);
}

// A parsed number checked against [lo, hi], named `what` in the reason.
Parsed<uint32_t> ranged(std::string_view text, const char* what, uint32_t lo, uint32_t hi,
                        const char* range_text) {
    const std::string outside = std::string("is outside ") + range_text;
    auto n = unsigned_within(text, hi, outside.c_str());
    if (!n) return Parsed<uint32_t>::fail(std::string(what) + " " + n.error);
    if (*n.value < lo || *n.value > hi)
        return Parsed<uint32_t>::fail(std::string(what) + " " + quoted(text) + " is outside " + range_text);
    return {(uint32_t)*n.value, {}};
}

// Below 1e6 and not negative: NaN fails both comparisons, so it is refused too.
Parsed<double> amount(std::string_view text, const char* what) {
    try {
        size_t used = 0;
        const double v = std::stod(std::string(text), &used);
        if (used == text.size() && v >= 0 && v < 1e6) return {v, {}};
    } catch (const std::exception&) {
    }
    return Parsed<double>::fail(quoted(text) + " is not a number of " + what + " (0 up to 1e6)");
}

}  // namespace

Parsed<uint64_t> parse_frame_limit(std::string_view text) {
    auto n = parse_unsigned(text, UINT64_MAX);
    if (!n) return Parsed<uint64_t>::fail("frame count " + n.error);
    return n;
}

Parsed<double> parse_seconds(std::string_view text) { return amount(text, "seconds"); }

Parsed<double> parse_byte_rate(std::string_view text) { return amount(text, "bytes per second"); }

Parsed<uint64_t> parse_unsigned(std::string_view text, uint64_t max) { return unsigned_within(text, max); }

Parsed<uint32_t> parse_address(std::string_view text) {
    return ranged(text, "address", 0, kAddressMax, "0..0xFFFFFF");
}

Parsed<uint32_t> parse_device_address(std::string_view text) {
    return ranged(text, "physical address", kPhysicalMin, kAddressMax, "0x10000..0xFFFFFF");
}

Parsed<uint32_t> parse_physical_address(std::string_view text) {
    if (text == "random") return {0u, {}};
    auto n = ranged(text, "physical address", 0, kAddressMax, "0x10000..0xFFFFFF");
    if (n && *n.value != 0 && *n.value < kPhysicalMin)
        return Parsed<uint32_t>::fail("physical address " + quoted(text) +
                                      " is outside 0x10000..0xFFFFFF (0 or 'random' picks one)");
    return n;
}

Parsed<uint32_t> parse_group(std::string_view text) { return ranged(text, "group", 1, 255, "1..255"); }

Parsed<uint32_t> parse_program(std::string_view text) {
    auto n = ranged(text, "program", 0, 9, "0..7 and 9");
    if (n && *n.value == 8) return Parsed<uint32_t>::fail("program '8' is outside 0..7 and 9");
    return n;
}

Parsed<uint32_t> parse_byte(std::string_view text) { return ranged(text, "value", 0, 255, "0..255"); }

Parsed<uint32_t> parse_port(std::string_view text) { return ranged(text, "port", 1, 9, "1..9 (COM1..COM9)"); }

Parsed<uint32_t> parse_baud(std::string_view text) {
    auto n = ranged(text, "baud rate", 1, kBaudBase, "1..115200");
    if (n && kBaudBase % *n.value != 0)
        return Parsed<uint32_t>::fail("baud rate " + quoted(text) + " does not divide 115200");
    return n;
}

Parsed<uint32_t> parse_colour(std::string_view text) {
    if (text.empty() || text[0] != '#') {
        auto n = parse_unsigned(text, 0xFFFFFFFFu);
        if (!n) return Parsed<uint32_t>::fail("colour " + n.error);
        return {(uint32_t)*n.value, {}};
    }
    std::string_view body = text.substr(1);
    if (body.size() != 6 && body.size() != 8)
        return Parsed<uint32_t>::fail("colour " + quoted(text) + " needs 6 or 8 hex digits (#RRGGBB or #RRGGBBWW)");
    auto n = digits(text, body, 16, 0xFFFFFFFFu);
    if (!n) return Parsed<uint32_t>::fail("colour " + n.error);
    uint32_t v = (uint32_t)*n.value;
    return {body.size() == 6 ? v << 8 : v, {}};
}

Parsed<std::vector<uint8_t>> parse_hex_bytes(std::string_view text) {
    using Result = Parsed<std::vector<uint8_t>>;
    std::string_view body = text;
    if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) body.remove_prefix(2);
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : body) {
        if (c == ':' && high < 0) continue;
        int d = hex_digit(c);
        if (d < 0) return Result::fail("payload " + quoted(text) + " is not hex bytes (like 12, 0x12, 1201 or 12:01)");
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back((uint8_t)(high << 4 | d));
            high = -1;
        }
    }
    if (high >= 0 || bytes.empty())
        return Result::fail("payload " + quoted(text) + " needs two hex digits per byte");
    return {std::move(bytes), {}};
}

std::string address_text(uint32_t address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06X", address);
    return buf;
}

std::string colour_text(uint32_t colour) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%08X", colour);
    return buf;
}

}  // namespace tivtools
