#include "tools/common/sim_device_layout.h"

namespace tivtools {

std::vector<SimDevicePlace> default_sim_layout(size_t count) {
    std::vector<SimDevicePlace> layout;
    for (size_t i = 0; i < count && i < kMaxSimDevices; i++)
        layout.push_back({kFirstSimAddress + (uint32_t)i, (uint8_t)(i / 2 + 1)});
    return layout;
}

Parsed<SimDevicePlace> parse_sim_device(std::string_view text) {
    const size_t colon = text.find(':');
    auto address = parse_physical_address(text.substr(0, colon));
    if (!address || *address.value == 0)
        return Parsed<SimDevicePlace>::fail(address ? "device '" + std::string(text) + "' needs a physical address"
                                                   : address.error);
    SimDevicePlace place{*address.value, 0};
    if (colon != std::string_view::npos) {
        auto group = parse_unsigned(text.substr(colon + 1), 255);
        if (!group) return Parsed<SimDevicePlace>::fail("group of device '" + std::string(text) + "': " + group.error);
        place.group = (uint8_t)*group.value;
    }
    return {place, {}};
}

}  // namespace tivtools
