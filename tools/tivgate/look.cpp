#include "tools/tivgate/look.h"

namespace tivgate {

Look look_from_dmx(std::span<const uint8_t> slots, int channel, FixtureMode mode) {
    auto slot = [&](int i) -> uint32_t {
        const size_t at = (size_t)(channel - 1 + i);
        return at < slots.size() ? slots[at] : 0;
    };
    Look look;
    look.colour = slot(0) << 24 | slot(1) << 16 | slot(2) << 8 | slot(3);
    if (mode == FixtureMode::rgbw_fade) look.fade = (uint8_t)slot(4);
    return look;
}

}  // namespace tivgate
