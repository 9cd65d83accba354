#include "tests/tivlink/bus_fixture.h"

#include <optional>

namespace bus_test {

static std::optional<StderrCapture> capture;

StderrCapture& captured() { return capture.value(); }

void BusTest::SetUp() {
    capture.emplace();
    bus.devices().add_device(kDeviceA, kGroupAB);
    bus.devices().add_device(kDeviceB, kGroupAB);
    bus.devices().add_device(kDeviceC, kGroupC);
    bus.bind_com(kPort);
    ASSERT_EQ(init_tiv3(kPort, 115200), 0);
}

void BusTest::TearDown() {
    exit_tiv3();
    capture.reset();
}

std::vector<tivsim::DecodedFrame> BusTest::frames(size_t n) {
    EXPECT_TRUE(bus.wait_frames(n, 5s)) << "only " << bus.frames().size() << " of " << n;
    return bus.frames();
}

tivsim::DeviceState BusTest::device(uint32_t physical_address) {
    auto found = bus.devices().find(physical_address);
    EXPECT_TRUE(found.has_value()) << std::hex << physical_address;
    return found.value_or(tivsim::DeviceState{});
}

double gap_ms(const std::vector<tivsim::DecodedFrame>& frames, size_t i) {
    return std::chrono::duration<double, std::milli>(frames[i].first_time -
                                                     frames[i - 1].last_time)
        .count();
}

}  // namespace bus_test
