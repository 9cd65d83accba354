#include "tools/tivgate/latency_histogram.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;
using tivgate::LatencyHistogram;

// Quantiles within a bucket (9 %) over the whole run, and the counts at whole
// octaves, which /metrics exposes as exact, at their bounds.
TEST(LatencyHistogram, DescribesTheWholeRun) {
    struct Phase {
        uint64_t count;
        std::chrono::nanoseconds each;
    };
    struct Case {
        const char* what;
        std::vector<Phase> phases;
        double q, ms;
        int octave;
        uint64_t at_most;  // samples at or below 2^octave ms
    } cases[] = {
        // Past 2^20 sends: a sample kept in a list up to a cap would still say 1 ms.
        {"a first day at 1 ms, then three million sends at 40 ms", {{1'000'000, 1ms}, {3'000'000, 40ms}}, 0.5, 40, 0,
         1'000'000},
        {"one slow send in a hundred", {{990, 500us}, {10, 2s}}, 0.995, 2000, -1, 990},
        {"below the lowest bucket", {{10, 0ns}}, 0.5, 1.0 / 16, 0, 10},
        {"above the highest", {{10, 300s}}, 0.5, 131072, 17, 0},
    };
    for (const Case& c : cases) {
        LatencyHistogram h;
        uint64_t n = 0;
        for (const Phase& p : c.phases)
            for (uint64_t i = 0; i < p.count; i++, n++) h.add(p.each);
        EXPECT_EQ(h.count(), n) << c.what;
        EXPECT_NEAR(h.quantile_ms(c.q), c.ms, c.ms * 0.09) << c.what;
        EXPECT_EQ(h.at_most_octave(c.octave), c.at_most) << c.what;
    }
}
