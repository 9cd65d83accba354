#include "tools/common/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// is_terminal and the terminal's size: terminal_posix.cpp, terminal_win32.cpp.

namespace tivtools {

ColourSupport colour_support(int fd) {
    if (!is_terminal(fd) || std::getenv("NO_COLOR")) return ColourSupport::none;
    const char* term = std::getenv("TERM");
    if (!term || !*term || std::strcmp(term, "dumb") == 0) return ColourSupport::none;
    const char* colorterm = std::getenv("COLORTERM");
    if (colorterm && (std::strcmp(colorterm, "truecolor") == 0 || std::strcmp(colorterm, "24bit") == 0))
        return ColourSupport::truecolor;
    return ColourSupport::palette256;
}

// Nearest entry of the 6x6x6 cube of the 256-colour palette.
static int cube_index(uint8_t r, uint8_t g, uint8_t b) {
    auto level = [](uint8_t v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
    return 16 + 36 * level(r) + 6 * level(g) + level(b);
}

std::string swatch(ColourSupport support, uint8_t r, uint8_t g, uint8_t b) {
    char buf[48];
    switch (support) {
    case ColourSupport::none: return "";
    case ColourSupport::truecolor: std::snprintf(buf, sizeof buf, "\x1b[48;2;%u;%u;%um  \x1b[0m", r, g, b); break;
    case ColourSupport::palette256: std::snprintf(buf, sizeof buf, "\x1b[48;5;%dm  \x1b[0m", cube_index(r, g, b)); break;
    }
    return buf;
}

}  // namespace tivtools
