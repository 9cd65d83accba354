// Group looks against device by device, over many random DMX sequences. The
// library's own light sequences are caught on their way to the port (this
// test links with --wrap=_tiv_frame_send), encoded by its encoder, decoded by
// the simulated bus's decoder and applied to the simulated devices.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "sim/device_model.h"
#include "sim/frame_decoder.h"
#include "tivlink/frame.h"
#include "tools/tivgate/look_send.h"

namespace {

using namespace tivgate;

struct Device {
    uint32_t address;
    uint8_t group;
    FixtureMode mode;
};

// Two declared groups, a device of its own, and a group patched as a fixture.
const std::vector<Device> kDevices = {
    {0x010001, 2, FixtureMode::rgbw},      {0x010002, 2, FixtureMode::rgbw},      {0x010003, 2, FixtureMode::rgbw},
    {0x010004, 3, FixtureMode::rgbw_fade}, {0x010005, 3, FixtureMode::rgbw_fade}, {0x010006, 0, FixtureMode::rgbw},
    {0x010007, 9, FixtureMode::rgbw}};

uint32_t colour_at(const uint8_t* c) { return (uint32_t)c[0] << 24 | c[1] << 16 | c[2] << 8 | c[3]; }

// The bus the library's frames land on, and what each device may show.
struct Wire {
    tivsim::DeviceModel devices;
    tivsim::FrameDecoder decoder;
    // Per device: dark, then every colour the console gave it.
    std::vector<std::set<uint32_t>> given = std::vector<std::set<uint32_t>>(kDevices.size(), {0});
    size_t frames = 0;
    std::vector<std::string> faults;
    int fail_frame = -1;  // this frame of each look fails as with no line
    int calls = 0;

    void check() {
        for (size_t i = 0; i < kDevices.size(); i++) {
            const tivsim::DeviceState d = devices.device(i);
            const bool fades = kDevices[i].mode == FixtureMode::rgbw_fade;
            if (!given[i].count(colour_at(fades ? d.fade_target.data() : d.channels.data())))
                faults.push_back("device " + std::to_string(i) + " showed a colour it was never given");
        }
    }
};

Wire* wire = nullptr;

std::shared_ptr<const Patch> patch(bool groups) {
    auto p = std::make_shared<Patch>();
    p->universe = 1;
    p->bus.refresh = {};
    for (size_t i = 0; i < kDevices.size(); i++) {
        const uint32_t address = kDevices[i].group == 9 ? 9 : kDevices[i].address;
        p->fixtures.push_back({address, 1 + 5 * (int)i, kDevices[i].mode, 0});
    }
    if (groups) p->groups = {{2, {0, 1, 2}, 0}, {3, {3, 4}, 0}};
    return p;
}

struct Step {
    std::vector<uint8_t> dmx;
    int sends;  // looks the bus gets out before the next frame
};

// Each declared group is uniform half of the time; colours come from a small
// palette, so that members also agree by chance.
std::vector<Step> random_sequence(std::mt19937& rng) {
    const uint32_t palette[] = {0xFF000000, 0x0000FF00, 0x10203040};
    std::vector<Step> steps(12);
    for (Step& s : steps) {
        s.dmx.assign(5 * kDevices.size(), 0);
        uint32_t uniform[10] = {};
        for (uint32_t& u : uniform) u = rng() % 2 ? palette[rng() % 3] : 0;
        for (size_t i = 0; i < kDevices.size(); i++) {
            const uint32_t c = uniform[kDevices[i].group % 10] ? uniform[kDevices[i].group % 10] : palette[rng() % 3];
            for (int b = 0; b < 4; b++) s.dmx[5 * i + b] = (uint8_t)(c >> (24 - 8 * b));
            s.dmx[5 * i + 4] = uniform[kDevices[i].group % 10] ? 7 : (uint8_t)(rng() % 2 * 7);
        }
        s.sends = (int)(rng() % 4);
    }
    return steps;
}

// Runs one sequence; the final colours of every device.
struct Sent {
    uint64_t looks = 0;
    uint64_t group_looks = 0;
};

std::vector<std::pair<tivsim::Colour, tivsim::Colour>> play(const std::vector<Step>& steps, bool groups,
                                                            Sent& counts) {
    Wire w;
    wire = &w;
    for (const Device& d : kDevices) w.devices.add_device(d.address, d.group);
    Schedule s(patch(groups));
    counts = {};
    auto send = [&](const std::optional<Job>& job) {
        if (job) {
            EXPECT_TRUE(send_look(*job));
            counts.looks++;
            counts.group_looks += job->group;
        }
        return job.has_value();
    };
    for (const Step& step : steps) {
        s.offer(step.dmx, Clock::now());
        for (size_t i = 0; i < kDevices.size(); i++) w.given[i].insert(colour_at(&step.dmx[5 * i]));
        for (int k = 0; k < step.sends; k++) send(s.take(Clock::now()));
    }
    while (send(s.take(Clock::now()))) {
    }
    EXPECT_EQ(w.faults, std::vector<std::string>{}) << (groups ? "group-aware" : "device by device");
    EXPECT_EQ(w.frames, 3 * counts.looks) << "every look goes out as three whole frames";
    std::vector<std::pair<tivsim::Colour, tivsim::Colour>> final;
    for (const tivsim::DeviceState& d : w.devices.snapshot()) final.push_back({d.channels, d.fade_target});
    wire = nullptr;
    return final;
}

TEST(GroupLooks, EndWhereDeviceByDeviceEndsAndNeverShowAColourNotGiven) {
    std::mt19937 rng(20261209);
    uint64_t group_looks = 0;
    for (int run = 0; run < 200; run++) {
        const std::vector<Step> steps = random_sequence(rng);
        Sent with, without;
        const auto grouped = play(steps, true, with);
        EXPECT_EQ(grouped, play(steps, false, without)) << "sequence " << run;
        EXPECT_EQ(without.group_looks, 0u);
        group_looks += with.group_looks;
    }
    EXPECT_GT(group_looks, 200u) << "uniform groups must go out as group looks";
}

// The light calls report only their last frame: a look whose first or
// second frame failed is not whole all the same.
TEST(SendLook, AnyFrameNotWrittenWholeFailsTheLook) {
    for (const FixtureMode mode : {FixtureMode::rgbw, FixtureMode::rgbw_fade}) {
        for (const int failing : {-1, 0, 1, 2}) {
            Wire w;
            wire = &w;
            for (const Device& d : kDevices) w.devices.add_device(d.address, d.group);
            w.fail_frame = failing;
            const Job job{0x010001, mode, Look{0x11223344, 5}, {}, false, false, false, {}, 0};
            EXPECT_EQ(send_look(job), failing < 0) << "frame " << failing << " failing";
            wire = nullptr;
        }
    }
}

}  // namespace

extern "C" int32_t __real__tiv_frame_send(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len);

// Every frame of a look, as the library hands it to the port; a failing
// frame goes to the library's own send with no line open, which counts it.
extern "C" int32_t __wrap__tiv_frame_send(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len) {
    if (wire->calls++ % 3 == wire->fail_frame) return __real__tiv_frame_send(adr, cmd, data, len);
    frame_encode(adr, cmd, data, len);
    std::vector<tivsim::DecodedFrame> out;
    wire->decoder.feed({tiv_sendbuf, tiv_six}, tivsim::Nanos{0}, out);
    for (const tivsim::DecodedFrame& f : out) {
        if (f.kind != tivsim::FrameKind::ok) wire->faults.push_back("a frame did not decode whole");
        wire->devices.apply(f);
        wire->frames++;
    }
    wire->check();
    return 0;
}
