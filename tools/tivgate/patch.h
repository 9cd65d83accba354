// The patch: which DMX slots of which universe drive which bus address, which
// devices answer to a declared group, what to do when the source falls
// silent, how often the bus is refreshed, and where the status page
// listens. Read from a TOML file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tivgate/listen_address.h"
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

// A group the installer declares complete: these device fixtures are every
// device on the bus that answers to `address`, so one look to the group may
// stand in for theirs when they all agree.
struct Group {
    uint32_t address;             // 1..255
    std::vector<size_t> members;  // indices into Patch::fixtures, device fixtures only
    int line;
};

struct BusPolicy {
    // Every look is sent again at least this often, for devices that
    // restarted behind our back; 0: never.
    std::chrono::milliseconds refresh{30000};
    // Every fixture's look from the start until DMX gives it another, so
    // that it goes out once the port first opens; none: hold, send nothing
    // until DMX comes.
    std::optional<Look> startup;
};

struct HttpPolicy {
    std::string listen = kDefaultHttpListen;  // ADDRESS:PORT, checked; "": no server
};

struct Patch {
    unsigned universe = 0;
    std::vector<Fixture> fixtures;
    std::vector<Group> groups;
    LossPolicy loss;
    BusPolicy bus;
    HttpPolicy http;
};

struct PatchResult {
    std::optional<Patch> patch;
    std::string error;  // "<name>:<line>: <reason>" when patch is empty
};

PatchResult parse_patch(std::string_view text, const std::string& name);
PatchResult read_patch(const std::string& path);

inline bool is_group(uint32_t address) { return address < 0x10000; }

}  // namespace tivgate
