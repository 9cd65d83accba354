#include "tools/tivgate/sim_layout.h"

#include <algorithm>

namespace tivgate {

namespace {

// Group members get addresses from the top of the range down, where a patch
// is least likely to have devices of its own.
constexpr uint32_t kTopAddress = 0xFFFFFF;

}  // namespace

std::vector<tivtools::SimDevicePlace> sim_layout_for(const Patch& patch) {
    std::vector<tivtools::SimDevicePlace> layout;
    auto patched = [&](uint32_t a) {
        return std::any_of(patch.fixtures.begin(), patch.fixtures.end(), [&](const Fixture& f) { return f.address == a; });
    };
    std::vector<uint8_t> declared(patch.fixtures.size(), 0);
    for (const Group& g : patch.groups)
        for (size_t m : g.members) declared[m] = (uint8_t)g.address;
    for (size_t i = 0; i < patch.fixtures.size(); i++)
        if (!is_group(patch.fixtures[i].address)) layout.push_back({patch.fixtures[i].address, declared[i]});
    uint32_t next = kTopAddress;
    for (const Fixture& f : patch.fixtures) {
        if (!is_group(f.address)) continue;
        while (patched(next)) next--;
        layout.push_back({next--, (uint8_t)f.address});
    }
    return layout;
}

}  // namespace tivgate
