#include "bench/pacing_plan.h"

#include "tests/support/reference_frame.h"
#include "tivlink.h"

namespace tivbench {

namespace {

constexpr uint32_t kDevice = 0x123456;
constexpr uint32_t kGroup = 7;
constexpr uint32_t kImageStart = 0x100;

// Pauses as the library keeps them: 30 ms inside the send for a physical
// address, then the caller's own.
constexpr int kPhysicalFrame = 30;
constexpr int kSerialBegin = 200;
constexpr int kEepromByte = 50;
constexpr int kAfterReset = 100;
constexpr int kDownloadBegin = 100;

enum : uint8_t {
    CMD_SETUP_BEGIN = 0xFD,
    CMD_SETUP_WRITE = 0xFB,
    CMD_IMAGE_WRITE = 0x7F,
    CMD_RESET = 0xFE,
    CMD_LIGHT = 0x7E,
};

PlanFrame frame(uint32_t address, uint8_t command, std::vector<uint8_t> payload, int caller_pause) {
    PlanFrame f{address, command, std::move(payload), {}};
    if (address > 0xFFFF) f.pauses_ms.push_back(kPhysicalFrame);
    if (caller_pause) f.pauses_ms.push_back(caller_pause);
    return f;
}

uint32_t colour(int i) { return 0x10203040u + (uint32_t)i * 0x01010101u; }

std::vector<uint8_t> colour_payload(uint8_t sub, uint32_t c) {
    return {sub, (uint8_t)(c >> 24), (uint8_t)(c >> 16), (uint8_t)(c >> 8), (uint8_t)c};
}

Scenario rgbx_series(uint32_t address, int calls, int reps, std::string key, std::string title) {
    Scenario s{std::move(key), std::move(title), reps, {}, {}};
    for (int i = 0; i < calls; i++) {
        s.plan.push_back(frame(address, CMD_LIGHT, {0x12, 0x01}, 0));
        s.plan.push_back(frame(address, CMD_LIGHT, colour_payload(0x04, colour(i)), 0));
        s.plan.push_back(frame(address, CMD_LIGHT, colour_payload(0x00, colour(i)), 0));
    }
    s.run_library = [address, calls] {
        for (int i = 0; i < calls; i++) set_rgbx(address, colour(i));
    };
    return s;
}

Scenario setup_sequence(int reps) {
    Scenario s{"setup", "set_serial (setup sequence), physical", reps, {}, {}};
    s.plan.push_back(frame(kDevice, CMD_SETUP_BEGIN, {0x00}, kSerialBegin));
    for (uint8_t i = 0; i < 4; i++) {
        uint8_t value = (uint8_t)(kDevice >> (24 - 8 * i));
        s.plan.push_back(frame(kDevice, CMD_SETUP_WRITE, {0x00, i, value}, kEepromByte));
    }
    s.plan.push_back(frame(kDevice, CMD_RESET, {}, kAfterReset));
    s.run_library = [] { set_serial(kDevice, (int32_t)kDevice); };
    return s;
}

uint8_t image_byte(uint32_t i) { return (uint8_t)(i * 37 + 11); }

Scenario download_sequence(int bytes) {
    Scenario s{"download", "download of " + std::to_string(bytes) + " bytes, physical", 1, {}, {}};
    s.plan.push_back(frame(kDevice, CMD_SETUP_BEGIN, {0x00}, kDownloadBegin));
    for (uint32_t i = 0; i < (uint32_t)bytes; i++) {
        uint32_t at = kImageStart + i;
        s.plan.push_back(
            frame(kDevice, CMD_IMAGE_WRITE, {(uint8_t)(at >> 8), (uint8_t)at, image_byte(i)}, kEepromByte));
    }
    s.plan.push_back(frame(kDevice, CMD_RESET, {}, kAfterReset));
    s.run_library = [bytes] {
        for (uint32_t i = 0; i < (uint32_t)bytes; i++) e2_data[i] = image_byte(i);
        e2_adr = kImageStart;
        e2_len = (uint32_t)bytes;
        e2_cmd = 1;
        tiv_thread_join(download(kDevice));
    };
    return s;
}

}  // namespace

int PlanFrame::pause_ms() const {
    int sum = 0;
    for (int p : pauses_ms) sum += p;
    return sum;
}

ScenarioSizes full_sizes() { return {10, 5, 20, 10, 200}; }
ScenarioSizes smoke_sizes() { return {2, 1, 1, 1, 4}; }

std::vector<Scenario> pacing_scenarios(const ScenarioSizes& z) {
    std::vector<Scenario> all;
    all.push_back(rgbx_series(kDevice, z.rgbx_calls, z.rgbx_reps, "rgbx_physical",
                              "set_rgbx x" + std::to_string(z.rgbx_calls) + ", physical address"));
    all.push_back(rgbx_series(kGroup, z.rgbx_calls, z.group_reps, "rgbx_group",
                              "set_rgbx x" + std::to_string(z.rgbx_calls) + ", group address"));
    all.push_back(setup_sequence(z.setup_reps));
    all.push_back(download_sequence(z.download_bytes));
    return all;
}

std::vector<uint8_t> wire_bytes(const PlanFrame& f) {
    return tivref::encode(f.address, f.command, f.payload);
}

size_t wire_size(const PlanFrame& f) { return wire_bytes(f).size(); }

}  // namespace tivbench
