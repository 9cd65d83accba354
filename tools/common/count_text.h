// "1 frame", "2 frames": a count with its noun, for what the tools print.
#pragma once

#include <cstdint>
#include <string>

namespace tivtools {

inline std::string count_text(uint64_t n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

}  // namespace tivtools
