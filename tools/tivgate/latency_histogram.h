// Times from a DMX change to the first frame of its look, kept in log-spaced
// buckets so that memory stays the same however long tivgate runs and the
// median and p99 describe the whole run, not its first day.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace tivgate {

class LatencyHistogram {
public:
    // Eight buckets an octave from 1/16 ms up to 2^17 ms (131 s), and one
    // above: a quantile read off them is within 9 % of the sample's value.
    static constexpr int kPerOctave = 8;
    static constexpr int kLowestOctave = -4;  // 2^-4 ms
    static constexpr int kOctaves = 21;
    static constexpr int kBuckets = kPerOctave * kOctaves + 1;

    void add(std::chrono::nanoseconds latency);
    uint64_t count() const { return count_; }
    double sum_seconds() const { return sum_seconds_; }
    // The q-quantile (0..1) in milliseconds; 0 without samples.
    double quantile_ms(double q) const;
    // Samples at or below 2^octave ms, for a cumulative histogram whose
    // bounds are whole octaves.
    uint64_t at_most_octave(int octave) const;

private:
    static double upper_ms(int bucket);
    std::array<uint64_t, kBuckets> buckets_{};
    uint64_t count_ = 0;
    double sum_seconds_ = 0;
};

}  // namespace tivgate
