#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "sim/noise_source.h"

namespace {

using namespace std::chrono_literals;
using tivsim::Nanos;

TEST(NoiseSource, ProducesBytesAsTheyFallDue) {
    const Nanos t0 = 10s;
    tivsim::NoiseSource noise(1000, t0, 100ms, 1);  // one byte per millisecond, 100 in all
    std::vector<uint8_t> out;
    EXPECT_EQ(noise.total(), 100u);
    noise.take_due(t0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(noise.next_due(), t0 + 1ms);
    noise.take_due(t0 + 10ms + 500us, out);
    EXPECT_EQ(out.size(), 10u);
    EXPECT_EQ(noise.next_due(), t0 + 11ms);
    noise.take_due(t0 + 10ms + 900us, out);
    EXPECT_EQ(out.size(), 10u);
    noise.take_due(t0 + 5s, out);
    EXPECT_EQ(out.size(), 100u);
    EXPECT_TRUE(noise.done());
    EXPECT_EQ(noise.next_due(), Nanos::max());
}

TEST(NoiseSource, SameSeedSameBytes) {
    std::vector<uint8_t> a, b, c;
    tivsim::NoiseSource(5000, 0s, 100ms, 42).take_due(1s, a);
    tivsim::NoiseSource(5000, 0s, 100ms, 42).take_due(1s, b);
    tivsim::NoiseSource(5000, 0s, 100ms, 43).take_due(1s, c);
    EXPECT_EQ(a.size(), 500u);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(NoiseSource, NothingForZeroRateOrDuration) {
    EXPECT_TRUE(tivsim::NoiseSource(0, 0s, 1s, 1).done());
    EXPECT_TRUE(tivsim::NoiseSource(1000, 0s, 0s, 1).done());
}

}  // namespace
