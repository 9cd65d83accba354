#include "tools/tivgate/latency_histogram.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;
using tivgate::LatencyHistogram;

TEST(LatencyHistogram, QuantilesDescribeTheWholeRunWithinABucket) {
    struct Phase {
        uint64_t count;
        std::chrono::nanoseconds each;
    };
    struct Case {
        const char* what;
        std::vector<Phase> phases;
        double q, ms;
    } cases[] = {
        // Past 2^20 sends: a sample kept in a list up to a cap would still say 1 ms.
        {"a first day at 1 ms, then three million sends at 40 ms", {{1'000'000, 1ms}, {3'000'000, 40ms}}, 0.5, 40},
        {"one slow send in a hundred", {{990, 500us}, {10, 2s}}, 0.995, 2000},
        {"below the lowest bucket", {{10, 0ns}}, 0.5, 1.0 / 16},
        {"above the highest", {{10, 300s}}, 0.5, 131072},
    };
    for (const Case& c : cases) {
        LatencyHistogram h;
        uint64_t n = 0;
        for (const Phase& p : c.phases)
            for (uint64_t i = 0; i < p.count; i++, n++) h.add(p.each);
        EXPECT_EQ(h.count(), n) << c.what;
        EXPECT_NEAR(h.quantile_ms(c.q), c.ms, c.ms * 0.09) << c.what;
    }
}

TEST(LatencyHistogram, WholeOctavesCountExactly) {
    LatencyHistogram h;
    for (std::chrono::microseconds t : {250us, 500us, 1000us, 1100us, 3000us}) h.add(t);
    EXPECT_EQ(h.at_most_octave(-1), 2u);  // 0.5 ms
    EXPECT_EQ(h.at_most_octave(0), 3u);   // 1 ms
    EXPECT_EQ(h.at_most_octave(2), 5u);   // 4 ms
    EXPECT_NEAR(h.sum_seconds(), 0.00585, 1e-9);
}
