// A connection of the library to a simulated bus of devices, for tests that
// go through the exported API and check what reached the line.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "tests/support/stderr_capture.h"
#include "tivlink.h"

namespace bus_test {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// Devices on the default bus.
inline constexpr uint32_t kDeviceA = 0x123456;
inline constexpr uint32_t kDeviceB = 0x10002;
inline constexpr uint32_t kDeviceC = 0xABCDEF;
inline constexpr uint8_t kGroupAB = 5;
inline constexpr uint8_t kGroupC = 9;
inline constexpr int kPort = 4;

// The boxes and beeps of the running test.
StderrCapture& captured();

class BusTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Frames logged so far, waiting until `n` arrived.
    std::vector<tivsim::DecodedFrame> frames(size_t n);
    tivsim::DeviceState device(uint32_t physical_address);

    tivsim::SimBus bus;
};

// The bus stamps a frame when its read returns, so a frame delivered late
// makes the gap before the next one look short by that much.
inline constexpr double kDeliveryJitterMs = 5;

// Milliseconds between the end of frame i-1 and the start of frame i.
double gap_ms(const std::vector<tivsim::DecodedFrame>& frames, size_t i);

}  // namespace bus_test
