// A C++ host: fades every device of a group through a few colours.
// Run: ./cpp_host PORT GROUP
#include <tivlink.h>

#include <charconv>
#include <cstdint>
#include <iostream>
#include <optional>
#include <string_view>

// A decimal or 0x-hex number within [min, max]; nothing for anything else.
std::optional<uint32_t> parse_number(std::string_view text, uint32_t min, uint32_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || n < min || n > max) return {};
    return n;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " PORT GROUP\n";
        return 2;
    }
    const std::optional<uint32_t> port = parse_number(argv[1], 1, 9);
    const std::optional<uint32_t> group = parse_number(argv[2], 1, 255);
    if (!port || !group) {
        std::cerr << (port ? "GROUP must be a group address 1..255\n" : "PORT must be a number 1..9\n");
        return 2;
    }
    if (init_tiv3(static_cast<int32_t>(*port), 115200) != 0) return 1;
    bool ok = true;
    for (uint32_t colour : {0xFF000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu})
        ok = fade_rgbx(*group, colour, 20) == 0 && ok;
    exit_tiv3();
    std::cout << (ok ? "done" : "failed") << '\n';
    return ok ? 0 : 1;
}
