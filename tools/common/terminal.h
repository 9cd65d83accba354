// What the output terminal can do: whether it is one, its width, and which
// colours it shows (NO_COLOR, TERM and COLORTERM as the usual conventions).
#pragma once

#include <cstdint>
#include <string>

namespace tivtools {

enum class ColourSupport { none, palette256, truecolor };

bool is_terminal(int fd);
int terminal_width(int fd, int fallback = 80);
int terminal_height(int fd, int fallback = 24);
ColourSupport colour_support(int fd);

// Two cells of background colour, then the reset; empty without colour.
std::string swatch(ColourSupport support, uint8_t r, uint8_t g, uint8_t b);

}  // namespace tivtools
