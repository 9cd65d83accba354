// What one fixture shows, and how it is read from its DMX slots.
#pragma once

#include <cstdint>
#include <span>

namespace tivgate {

enum class FixtureMode { rgbw, rgbw_fade };

// The slots a mode takes: R G B W, and the fade value after them.
constexpr int slot_count(FixtureMode mode) { return mode == FixtureMode::rgbw ? 4 : 5; }

struct Look {
    uint32_t colour = 0;  // 0xRRGGBBWW
    uint8_t fade = 0;     // rgbw-fade only
    bool operator==(const Look&) const = default;
};

// The look in `slots` from 1-based `channel`; slots past the end of a short
// DMX frame count as 0, as a receiver that saw fewer slots would hold them.
Look look_from_dmx(std::span<const uint8_t> slots, int channel, FixtureMode mode);

}  // namespace tivgate
