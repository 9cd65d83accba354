#include "tools/tivgate/latency_histogram.h"

#include <algorithm>
#include <cmath>

namespace tivgate {

double LatencyHistogram::upper_ms(int bucket) {
    return std::exp2(kLowestOctave + (double)(bucket + 1) / kPerOctave);
}

void LatencyHistogram::add(std::chrono::nanoseconds latency) {
    const double ms = std::max(0.0, std::chrono::duration<double, std::milli>(latency).count());
    // The first bucket whose upper bound holds ms; below the lowest bound, the first.
    const double position = ms > 0 ? (std::log2(ms) - kLowestOctave) * kPerOctave : 0;
    const int bucket = (int)std::clamp(std::ceil(position) - 1, 0.0, (double)(kBuckets - 1));
    buckets_[(size_t)bucket]++;
    count_++;
    sum_seconds_ += ms / 1000;
}

double LatencyHistogram::quantile_ms(double q) const {
    if (count_ == 0) return 0;
    const double rank = std::clamp(q, 0.0, 1.0) * (double)count_;
    uint64_t below = 0;
    for (int b = 0; b < kBuckets; b++) {
        const uint64_t n = buckets_[(size_t)b];
        if (n && (double)(below + n) >= rank) {
            // Geometric within the bucket: its bounds are a ratio apart.
            const double lower = b == 0 ? upper_ms(-1) : upper_ms(b - 1);
            const double within = std::clamp((rank - (double)below) / (double)n, 0.0, 1.0);
            return lower * std::pow(upper_ms(b) / lower, within);
        }
        below += n;
    }
    return upper_ms(kBuckets - 1);
}

uint64_t LatencyHistogram::at_most_octave(int octave) const {
    const int last = std::min((octave - kLowestOctave) * kPerOctave - 1, kBuckets - 2);
    uint64_t n = 0;
    for (int b = 0; b <= last; b++) n += buckets_[(size_t)b];
    return n;
}

}  // namespace tivgate
