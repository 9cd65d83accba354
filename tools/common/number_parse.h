// Parsing of the numbers a user types for addresses, colours, groups and the
// like: decimal or 0x-hex, colours also #RRGGBBWW. Each parser either gives
// the value or a one-line reason that names the offending text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tivtools {

template <class T>
struct Parsed {
    std::optional<T> value;
    std::string error;  // set exactly when value is empty

    explicit operator bool() const { return value.has_value(); }
    static Parsed fail(std::string why) { return {std::nullopt, std::move(why)}; }
};

// Unsigned decimal ("4660") or hex with 0x/0X ("0x1234"), at most `max`.
Parsed<uint64_t> parse_unsigned(std::string_view text, uint64_t max);

Parsed<uint32_t> parse_address(std::string_view text);           // 0..0xFFFFFF
Parsed<uint32_t> parse_physical_address(std::string_view text);  // 0x10000..0xFFFFFF, 0 or "random"
Parsed<uint32_t> parse_device_address(std::string_view text);    // 0x10000..0xFFFFFF only
Parsed<uint32_t> parse_group(std::string_view text);             // 1..255
Parsed<uint32_t> parse_program(std::string_view text);           // 0..7, 9
Parsed<uint32_t> parse_byte(std::string_view text);              // 0..255
Parsed<uint32_t> parse_port(std::string_view text);              // 1..9
Parsed<uint32_t> parse_baud(std::string_view text);              // divides 115200
// A number up to 0xFFFFFFFF, or #RRGGBBWW (or #RRGGBB with WW = 00).
Parsed<uint32_t> parse_colour(std::string_view text);
// A limit on frames for the monitor and the simulated bus: 0 and up.
Parsed<uint64_t> parse_frame_limit(std::string_view text);
// A finite, non-negative amount below 1e6 ("0.5", "10"): seconds, or noise
// bytes per second.
Parsed<double> parse_seconds(std::string_view text);
Parsed<double> parse_byte_rate(std::string_view text);
// Hex bytes: "12", "0x12", "1201", "12:01"; an even number of digits.
Parsed<std::vector<uint8_t>> parse_hex_bytes(std::string_view text);

// "0x012345" for an address, "#11223344" for a colour.
std::string address_text(uint32_t address);
std::string colour_text(uint32_t colour);

}  // namespace tivtools
