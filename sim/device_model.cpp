#include "sim/device_model.h"

#include <algorithm>
#include <stdexcept>

#include "sim/protocol.h"

namespace tivsim {

namespace {

// Light sub-commands as this model reads them.
enum LightSub : uint8_t {
    kLightSet = 0x00,
    kLightFadeTarget = 0x04,
    kLightFadeSteps = 0x08,
    kLightFadeParam = 0x11,
    kLightMode = 0x12,
};

constexpr uint8_t kProgramLead = 0x15;
constexpr int kProgramBase = 200;
constexpr int kProgramStep = 3;

Colour colour_at(std::span<const uint8_t> p) { return {p[1], p[2], p[3], p[4]}; }

bool apply_light(DeviceState& d, std::span<const uint8_t> p) {
    if (p.empty()) return false;
    switch (p[0]) {
    case kLightSet:
        if (p.size() != 5) return false;
        d.channels = colour_at(p);
        return true;
    case kLightFadeTarget:
        if (p.size() != 5) return false;
        d.fade_target = colour_at(p);
        return true;
    case kLightFadeSteps:
        if (p.size() != 5) return false;
        d.fade_steps = colour_at(p);
        return true;
    case kLightFadeParam:
        if (p.size() != 3) return false;
        d.fade_param = p[1];
        d.fade_option = p[2];
        return true;
    case kLightMode:
        if (p.size() != 2) return false;
        d.light_mode = p[1];
        return true;
    }
    return false;
}

bool apply_program(DeviceState& d, std::span<const uint8_t> p) {
    if (p.size() != 3 || p[0] != kProgramLead || p[1] != 0x00) return false;
    d.program_byte = p[2];
    const int step = p[2] - kProgramBase;
    d.program = step >= 0 && step % kProgramStep == 0 ? step / kProgramStep : -1;
    return true;
}

bool apply_eeprom_write(DeviceState& d, std::span<const uint8_t> p) {
    if (!d.setup_mode || p.size() != 3) return false;
    const size_t address = (size_t)p[0] << 8 | p[1];
    if (address >= kEepromSize) return false;
    d.eeprom[address] = p[2];
    ++d.eeprom_writes;
    return true;
}

// A reset restarts the device: setup mode ends and address and group are
// read back from the EEPROM (an address outside the physical range is not
// taken).
bool apply_reset(DeviceState& d, std::span<const uint8_t> p) {
    if (!p.empty()) return false;
    d.setup_mode = false;
    const uint8_t* a = &d.eeprom[kE2PhysicalAddress];
    const uint32_t stored = (uint32_t)a[0] << 24 | (uint32_t)a[1] << 16 | (uint32_t)a[2] << 8 | a[3];
    if (stored >= kPhysicalAddressMin && stored <= kPhysicalAddressMax)
        d.physical_address = stored;
    d.group = d.eeprom[kE2Group];
    ++d.resets;
    return true;
}

}  // namespace

DeviceState make_device(uint32_t physical_address, uint8_t group) {
    if (physical_address < kPhysicalAddressMin || physical_address > kPhysicalAddressMax)
        throw std::invalid_argument("physical address outside 0x10000..0xFFFFFF");
    DeviceState d;
    d.physical_address = physical_address;
    d.group = group;
    d.eeprom.fill(kEepromErased);
    for (int i = 0; i < 4; i++)
        d.eeprom[kE2PhysicalAddress + i] = (uint8_t)(physical_address >> (24 - 8 * i));
    d.eeprom[kE2Group] = group;
    return d;
}

bool device_addressed(const DeviceState& device, uint32_t address) {
    address &= kPhysicalAddressMax;
    if (address > kGroupAddressMax) return device.physical_address == address;
    // In setup mode a device also answers to the group it has been given but
    // not yet taken on, so the closing reset sent to the new group reaches it.
    bool pending_group = device.setup_mode && device.eeprom[kE2Group] == address;
    return device.group == address || pending_group;
}

void device_apply(DeviceState& d, uint8_t command, std::span<const uint8_t> payload) {
    ++d.frames_reached;
    bool done = false;
    switch (command) {
    case kSetupBegin:
        done = payload.size() == 1 && payload[0] == 0x00;
        if (done) d.setup_mode = true;
        break;
    case kSetupWrite:
    case kImageWrite: done = apply_eeprom_write(d, payload); break;
    case kReset: done = apply_reset(d, payload); break;
    case kLight: done = apply_light(d, payload); break;
    case kXdProg: done = apply_program(d, payload); break;
    }
    if (!done) ++d.frames_ignored;
}

size_t DeviceModel::add_device(uint32_t physical_address, uint8_t group) {
    DeviceState d = make_device(physical_address, group);
    std::lock_guard lock(mutex_);
    devices_.push_back(d);
    return devices_.size() - 1;
}

size_t DeviceModel::apply(const DecodedFrame& frame) {
    if (frame.kind != FrameKind::ok) return 0;
    std::lock_guard lock(mutex_);
    size_t reached = 0;
    for (DeviceState& d : devices_) {
        if (!device_addressed(d, frame.address)) continue;
        device_apply(d, frame.command, frame.payload);
        ++reached;
    }
    return reached;
}

void DeviceModel::power_cycle() {
    std::lock_guard lock(mutex_);
    for (DeviceState& d : devices_) {
        DeviceState fresh = make_device(d.physical_address, d.group);
        fresh.eeprom = d.eeprom;
        fresh.frames_reached = d.frames_reached;
        fresh.frames_ignored = d.frames_ignored;
        fresh.eeprom_writes = d.eeprom_writes;
        fresh.resets = d.resets;
        apply_reset(fresh, {});  // the address and group it starts with are the EEPROM's
        d = fresh;
    }
}

size_t DeviceModel::size() const {
    std::lock_guard lock(mutex_);
    return devices_.size();
}

std::vector<DeviceState> DeviceModel::snapshot() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

DeviceState DeviceModel::device(size_t index) const {
    std::lock_guard lock(mutex_);
    return devices_.at(index);
}

std::optional<DeviceState> DeviceModel::find(uint32_t physical_address) const {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(devices_.begin(), devices_.end(), [&](const DeviceState& d) {
        return d.physical_address == physical_address;
    });
    if (it == devices_.end()) return std::nullopt;
    return *it;
}

}  // namespace tivsim
