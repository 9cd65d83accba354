#include "sim/noise_source.h"

#include <algorithm>
#include <chrono>

namespace tivsim {

namespace {

double seconds(Nanos t) { return std::chrono::duration<double>(t).count(); }

}  // namespace

NoiseSource::NoiseSource(double bytes_per_second, Nanos start, Nanos duration, uint32_t seed)
    : rate_(std::max(bytes_per_second, 0.0)),
      start_(start),
      total_((uint64_t)(rate_ * std::max(seconds(duration), 0.0))),
      rng_(seed) {}

uint64_t NoiseSource::due_by(Nanos now) const {
    if (now <= start_) return 0;
    return std::min(total_, (uint64_t)(rate_ * seconds(now - start_)));
}

void NoiseSource::take_due(Nanos now, std::vector<uint8_t>& out) {
    for (uint64_t due = due_by(now); produced_ < due; ++produced_) out.push_back((uint8_t)rng_());
}

Nanos NoiseSource::next_due() const {
    if (done()) return Nanos::max();
    return start_ + std::chrono::duration_cast<Nanos>(
                        std::chrono::duration<double>((double)(produced_ + 1) / rate_));
}

}  // namespace tivsim
