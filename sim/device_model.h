// Our model of the devices on the bus: enough behaviour to see what the
// library's frames would do. Real devices decide for themselves what a
// command means; see sim/README.md for the rules this model follows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "sim/frame_decoder.h"

namespace tivsim {

inline constexpr size_t kEepromSize = 2048;
inline constexpr size_t kE2PhysicalAddress = 0;  // bytes 0..3, big-endian
inline constexpr size_t kE2Group = 18;
inline constexpr uint8_t kEepromErased = 0xFF;

using Colour = std::array<uint8_t, 4>;  // c3, c2, c1, c0 as sent

struct DeviceState {
    uint32_t physical_address = 0;
    uint8_t group = 0;
    bool setup_mode = false;
    Colour channels{};        // LIGHT 00: the outputs now
    Colour fade_target{};     // LIGHT 04
    Colour fade_steps{};      // LIGHT 08
    uint8_t fade_param = 0;   // LIGHT 11, first argument
    uint8_t fade_option = 0;  // LIGHT 11, second argument
    uint8_t light_mode = 0;   // LIGHT 12
    int program = -1;         // XD_PROG number; -1: none yet, or not 200 + 3 * nr
    uint8_t program_byte = 0;
    std::array<uint8_t, kEepromSize> eeprom{};
    unsigned frames_reached = 0;  // good frames addressed to this device
    unsigned frames_ignored = 0;  // of those, not understood or not allowed now
    unsigned eeprom_writes = 0;
    unsigned resets = 0;
};

// A device as it leaves the factory: erased EEPROM except for its address
// (bytes 0..3) and group (byte 18), so that a reset keeps both.
DeviceState make_device(uint32_t physical_address, uint8_t group);

// True when a frame to `address` reaches `device`.
bool device_addressed(const DeviceState& device, uint32_t address);

// What one device does with one good frame addressed to it.
void device_apply(DeviceState& device, uint8_t command, std::span<const uint8_t> payload);

// The devices of one bus, shared between the bus's reader thread, which
// applies frames, and tests or tools, which take copies.
class DeviceModel {
public:
    // Adds a device and returns its index; physical_address must lie in
    // 0x10000..0xFFFFFF (std::invalid_argument otherwise).
    size_t add_device(uint32_t physical_address, uint8_t group);

    // Applies a good frame to every device it reaches (malformed frames and
    // noise reach nobody); returns how many it reached.
    size_t apply(const DecodedFrame& frame);

    // A blip on the devices' supply: each restarts with dark outputs and
    // nothing of what it was sent but its EEPROM.
    void power_cycle();

    size_t size() const;
    std::vector<DeviceState> snapshot() const;
    DeviceState device(size_t index) const;  // std::out_of_range for a bad index
    std::optional<DeviceState> find(uint32_t physical_address) const;

private:
    mutable std::mutex mutex_;
    std::vector<DeviceState> devices_;  // by index of creation; guarded by mutex_
};

}  // namespace tivsim
