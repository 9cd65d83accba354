#include "tools/common/sim_device_layout.h"

#include <set>

namespace tivtools {

std::vector<SimDevicePlace> default_sim_layout(size_t count) {
    std::vector<SimDevicePlace> layout;
    for (size_t i = 0; i < count && i < kMaxSimDevices; i++)
        layout.push_back({kFirstSimAddress + (uint32_t)i, (uint8_t)(i / 2 + 1)});
    return layout;
}

Parsed<SimDevicePlace> parse_sim_device(std::string_view text) {
    const size_t colon = text.find(':');
    auto address = parse_device_address(text.substr(0, colon));
    if (!address) return Parsed<SimDevicePlace>::fail(address.error);
    SimDevicePlace place{*address.value, 0};
    if (colon != std::string_view::npos) {
        auto group = parse_unsigned(text.substr(colon + 1), 255);
        if (!group) return Parsed<SimDevicePlace>::fail("group of device '" + std::string(text) + "': " + group.error);
        place.group = (uint8_t)*group.value;
    }
    return {place, {}};
}

std::optional<std::string> repeated_sim_device(const std::vector<SimDevicePlace>& layout) {
    std::set<uint32_t> seen;
    for (const SimDevicePlace& d : layout)
        if (!seen.insert(d.address).second) return "device address " + address_text(d.address) + " is given twice";
    return std::nullopt;
}

}  // namespace tivtools
