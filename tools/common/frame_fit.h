// Whether a frame fits the library's 1000-byte frame buffer. The library
// stops the whole process on a frame that does not, so tivctl checks first.
#pragma once

#include <cstdint>
#include <span>

namespace tivtools {

// Wire size of the stuffed frame, or 0 when the library would refuse it
// (some logical byte would start at wire offset 999 or later).
size_t frame_wire_size(uint32_t address, uint8_t command, std::span<const uint8_t> payload);

}  // namespace tivtools
