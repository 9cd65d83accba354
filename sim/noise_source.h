// Random bytes at a fixed rate for a fixed time, produced in batches as the
// clock says they are due.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "sim/sim_clock.h"

namespace tivsim {

class NoiseSource {
public:
    NoiseSource(double bytes_per_second, Nanos start, Nanos duration, uint32_t seed);

    // Appends every byte due by `now` that has not been produced yet.
    void take_due(Nanos now, std::vector<uint8_t>& out);

    bool done() const { return produced_ >= total_; }
    Nanos next_due() const;  // when the next byte is due
    uint64_t total() const { return total_; }

private:
    uint64_t due_by(Nanos now) const;

    double rate_;
    Nanos start_;
    uint64_t total_;
    uint64_t produced_ = 0;
    std::mt19937 rng_;
};

}  // namespace tivsim
