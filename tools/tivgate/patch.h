// The patch: which DMX slots of which universe drive which bus address, and
// what to do when the source falls silent. Read from a TOML file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tivgate/look.h"

namespace tivgate {

struct Fixture {
    uint32_t address;  // a device 0x10000..0xFFFFFF or a group 1..255
    int channel;       // first slot, 1..512
    FixtureMode mode;
    int line;          // where the patch names it, for messages
};

struct LossPolicy {
    std::chrono::milliseconds after{3000};  // silence that counts as a lost source
    std::optional<Look> look;               // sent to every fixture; none: hold the last
};

struct Patch {
    unsigned universe = 0;
    std::vector<Fixture> fixtures;
    LossPolicy loss;
};

struct PatchResult {
    std::optional<Patch> patch;
    std::string error;  // "<name>:<line>: <reason>" when patch is empty
};

PatchResult parse_patch(std::string_view text, const std::string& name);
PatchResult read_patch(const std::string& path);

inline bool is_group(uint32_t address) { return address < 0x10000; }

}  // namespace tivgate
