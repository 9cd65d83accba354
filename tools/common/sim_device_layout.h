// Which devices a simulated bus starts with. tivctl --sim and tivsim share
// the default, so an address that works on one works on the other. Plain
// values only: the Windows build of tivctl parses them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/number_parse.h"

namespace tivtools {

struct SimDevicePlace {
    uint32_t address = 0;
    uint8_t group = 0;
};

inline constexpr uint32_t kFirstSimAddress = 0x010001;
inline constexpr size_t kDefaultSimDevices = 4;
inline constexpr size_t kMaxSimDevices = 255;

// `count` devices at 0x010001, 0x010002, ... in groups 1, 1, 2, 2, 3, ...
std::vector<SimDevicePlace> default_sim_layout(size_t count = kDefaultSimDevices);

// "0x010005" or "0x010005:3" (group 0..255, default 0: in no group).
Parsed<SimDevicePlace> parse_sim_device(std::string_view text);

// "device address 0x010005 is given twice" for the first address a layout
// repeats; empty when each is there once.
std::optional<std::string> repeated_sim_device(const std::vector<SimDevicePlace>& layout);

}  // namespace tivtools
