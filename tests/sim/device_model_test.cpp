#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/device_model.h"
#include "sim/frame_decoder.h"
#include "tivlink/frame.h"

namespace {

using tivsim::Colour;
using tivsim::DeviceModel;
using tivsim::DeviceState;
using Bytes = std::vector<uint8_t>;

struct Send {
    uint32_t adr;
    uint8_t cmd;
    Bytes payload;
};

struct Expect {
    size_t device = 0;
    std::optional<uint32_t> phys{};
    std::optional<uint8_t> group{};
    std::optional<bool> setup{};
    std::optional<Colour> channels{};
    std::optional<Colour> fade_target{};
    std::optional<int> program{};
    std::vector<std::pair<size_t, uint8_t>> eeprom{};
    std::optional<unsigned> reached{};
    std::optional<unsigned> ignored{};
};

struct Case {
    const char* name;
    std::vector<std::pair<uint32_t, uint8_t>> devices;  // physical address, group
    std::vector<Send> frames;
    std::vector<Expect> expects;
};

constexpr uint32_t A = 0x100001, B = 0x100002, C = 0x200003;
constexpr Colour kBlack{0, 0, 0, 0};
constexpr Colour kColour{0x11, 0x22, 0x33, 0x44};

Send begin(uint32_t a) { return {a, CMD_SETUP_BEGIN, {0x00}}; }
Send write(uint32_t a, uint16_t e2, uint8_t v) {
    return {a, CMD_SETUP_WRITE, {(uint8_t)(e2 >> 8), (uint8_t)e2, v}};
}
Send image(uint32_t a, uint16_t e2, uint8_t v) {
    return {a, CMD_IMAGE_WRITE, {(uint8_t)(e2 >> 8), (uint8_t)e2, v}};
}
Send reset(uint32_t a) { return {a, CMD_RESET, {}}; }
Send light(uint32_t a, Bytes p) { return {a, CMD_LIGHT, std::move(p)}; }
Send prog(uint32_t a, uint8_t b) { return {a, CMD_XD_PROG, {0x15, 0x00, b}}; }

std::vector<Case> cases() {
    return {
        {"physical_address_reaches_one_device",
         {{A, 1}, {B, 1}},
         {light(A, {0x00, 0x11, 0x22, 0x33, 0x44})},
         {{.device = 0, .channels = kColour, .reached = 1u},
          {.device = 1, .channels = kBlack, .reached = 0u}}},
        {"group_address_reaches_its_members",
         {{A, 1}, {B, 1}, {C, 2}},
         {light(1, {0x00, 0x11, 0x22, 0x33, 0x44})},
         {{.device = 0, .channels = kColour}, {.device = 1, .channels = kColour},
          {.device = 2, .channels = kBlack, .reached = 0u}}},
        {"bits_above_24_are_not_on_the_wire",
         {{A, 1}},
         {light(0x01000000 | A, {0x00, 0x11, 0x22, 0x33, 0x44})},
         {{.device = 0, .channels = kColour}}},
        {"eeprom_writes_need_setup_mode",
         {{A, 1}},
         {write(A, 100, 0x42), image(A, 101, 0x43)},
         {{.device = 0, .setup = false, .eeprom = {{100, 0xFF}, {101, 0xFF}}, .ignored = 2u}}},
        {"setup_mode_stores_both_write_kinds",
         {{A, 1}},
         {begin(A), write(A, 100, 0x42), image(A, 0x7FF, 0x43), image(A, 0x800, 0x44)},
         {{.device = 0, .setup = true, .eeprom = {{100, 0x42}, {0x7FF, 0x43}},
           .reached = 4u, .ignored = 1u}}},
        {"set_serial_sequence_moves_the_device",
         {{A, 1}},
         {begin(A), write(A, 0, 0x00), write(A, 1, 0x12), write(A, 2, 0x34), write(A, 3, 0x56),
          reset(A), light(A, {0x00, 9, 9, 9, 9}), light(0x123456, {0x00, 0x11, 0x22, 0x33, 0x44})},
         {{.device = 0, .phys = 0x123456u, .group = 1, .setup = false, .channels = kColour,
           .reached = 7u, .ignored = 0u}}},
        {"reset_keeps_address_when_eeprom_holds_none",
         {{A, 1}, {B, 1}},
         {begin(1), write(A, 0, 0x01), write(B, 0, 0x00), write(B, 1, 0x00), write(B, 2, 0x00),
          write(B, 3, 0x05), reset(1)},
         {{.device = 0, .phys = A, .setup = false}, {.device = 1, .phys = B, .setup = false}}},
        {"group_byte_takes_effect_at_the_next_reset",
         {{A, 1}},
         {begin(A), write(A, 18, 7), light(7, {0x00, 1, 1, 1, 1})},
         {{.device = 0, .group = 1, .setup = true, .channels = Colour{1, 1, 1, 1}, .eeprom = {{18, 7}}}}},
        {"set_group_reset_to_new_group_reaches_the_device_in_setup",
         {{A, 1}, {B, 1}},
         {begin(A), write(A, 18, 7), reset(7)},
         {{.device = 0, .group = 7, .setup = false}, {.device = 1, .group = 1, .setup = false}}},
        {"after_its_reset_a_device_leaves_the_old_group",
         {{A, 1}, {B, 1}},
         {begin(A), write(A, 18, 7), reset(A), light(1, {0x00, 1, 1, 1, 1})},
         {{.device = 0, .group = 7, .setup = false, .channels = kBlack},
          {.device = 1, .group = 1, .channels = Colour{1, 1, 1, 1}}}},
        {"reset_to_device_adopts_the_group",
         {{A, 1}},
         {begin(A), write(A, 18, 7), reset(A), light(7, {0x00, 0x11, 0x22, 0x33, 0x44})},
         {{.device = 0, .phys = A, .group = 7, .setup = false, .channels = kColour}}},
        {"set_rgbx_frames",
         {{A, 1}},
         {light(A, {0x12, 0x01}), light(A, {0x04, 0x11, 0x22, 0x33, 0x44}),
          light(A, {0x00, 0x11, 0x22, 0x33, 0x44})},
         {{.device = 0, .channels = kColour, .fade_target = kColour, .ignored = 0u}}},
        {"fade_rgbx_frames_leave_the_outputs",
         {{A, 1}},
         {light(A, {0x11, 0x34, 0x01}), light(A, {0x08, 1, 1, 1, 1}),
          light(A, {0x04, 0x11, 0x22, 0x33, 0x44})},
         {{.device = 0, .channels = kBlack, .fade_target = kColour, .ignored = 0u}}},
        {"light_with_wrong_length_or_sub_command_is_ignored",
         {{A, 1}},
         {light(A, {0x00, 1, 2, 3}), light(A, {0x12}), light(A, {0x33, 1}), light(A, {})},
         {{.device = 0, .channels = kBlack, .reached = 4u, .ignored = 4u}}},
        {"program_numbers",
         {{A, 1}, {B, 2}},
         {prog(A, 0xCB), prog(B, 0xE3)},
         {{.device = 0, .program = 1}, {.device = 1, .program = 9}}},
        {"program_byte_off_the_grid_or_badly_led",
         {{A, 1}, {B, 2}},
         {prog(A, 0xC9), {B, CMD_XD_PROG, {0x16, 0x00, 0xC8}}},
         {{.device = 0, .program = -1, .ignored = 0u}, {.device = 1, .program = -1, .ignored = 1u}}},
        {"unknown_command_and_bad_setup_begin_are_ignored",
         {{A, 1}},
         {{A, 0x42, {1}}, {A, CMD_SETUP_BEGIN, {0x01}}, {A, CMD_RESET, {0x00}}},
         {{.device = 0, .setup = false, .reached = 3u, .ignored = 3u}}},
    };
}

void expect_state(const DeviceState& d, const Expect& e) {
    if (e.phys) { EXPECT_EQ(d.physical_address, *e.phys); }
    if (e.group) { EXPECT_EQ(d.group, *e.group); }
    if (e.setup) { EXPECT_EQ(d.setup_mode, *e.setup); }
    if (e.channels) { EXPECT_EQ(d.channels, *e.channels); }
    if (e.fade_target) { EXPECT_EQ(d.fade_target, *e.fade_target); }
    if (e.program) { EXPECT_EQ(d.program, *e.program); }
    for (auto [at, value] : e.eeprom) EXPECT_EQ(d.eeprom[at], value) << "eeprom " << at;
    if (e.reached) { EXPECT_EQ(d.frames_reached, *e.reached); }
    if (e.ignored) { EXPECT_EQ(d.frames_ignored, *e.ignored); }
}

class DeviceModelFrames : public testing::TestWithParam<Case> {};

TEST_P(DeviceModelFrames, StateAfterFrames) {
    const Case& c = GetParam();
    DeviceModel model;
    for (auto [phys, group] : c.devices) model.add_device(phys, group);
    for (const Send& s : c.frames) {
        frame_encode(s.adr, s.cmd, s.payload.data(), (uint32_t)s.payload.size());
        auto decoded = tivsim::decode_all(Bytes(tiv_sendbuf, tiv_sendbuf + tiv_six));
        ASSERT_EQ(decoded.size(), 1u);
        model.apply(decoded[0]);
    }
    auto devices = model.snapshot();
    for (const Expect& e : c.expects) {
        SCOPED_TRACE(testing::Message() << "device " << e.device);
        expect_state(devices.at(e.device), e);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DeviceModelFrames, testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceModel, NewDeviceEepromHoldsItsAddressAndGroup) {
    DeviceState d = tivsim::make_device(0x123456, 9);
    EXPECT_EQ((Bytes{d.eeprom[0], d.eeprom[1], d.eeprom[2], d.eeprom[3]}),
              (Bytes{0x00, 0x12, 0x34, 0x56}));
    EXPECT_EQ(d.eeprom[18], 9);
    EXPECT_EQ(d.eeprom[4], 0xFF);
    EXPECT_FALSE(d.setup_mode);
    EXPECT_EQ(d.program, -1);
    EXPECT_THROW(tivsim::make_device(0xFFFF, 1), std::invalid_argument);
    EXPECT_THROW(tivsim::make_device(0x1000000, 1), std::invalid_argument);
}

TEST(DeviceModel, MalformedFramesReachNobody) {
    DeviceModel model;
    model.add_device(A, 1);
    frame_encode(A, CMD_LIGHT, Bytes{0x00, 1, 2, 3, 4}.data(), 5);
    Bytes wire(tiv_sendbuf, tiv_sendbuf + tiv_six);
    wire.back() ^= 0x01;
    auto decoded = tivsim::decode_all(wire);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(model.apply(decoded[0]), 0u);
    EXPECT_EQ(model.device(0).frames_reached, 0u);
}

TEST(DeviceModel, FindFollowsAddressChanges) {
    DeviceModel model;
    model.add_device(A, 1);
    model.add_device(B, 1);
    EXPECT_EQ(model.size(), 2u);
    ASSERT_TRUE(model.find(B).has_value());
    EXPECT_EQ(model.find(B)->physical_address, B);
    EXPECT_FALSE(model.find(C).has_value());
    EXPECT_THROW(model.device(2), std::out_of_range);
}

}  // namespace
