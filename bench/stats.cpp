#include "bench/stats.h"

#include <algorithm>
#include <cmath>

namespace tivbench {

static double rank(const std::vector<double>& sorted, double fraction) {
    size_t k = (size_t)std::ceil(fraction * (double)sorted.size());
    return sorted[std::clamp<size_t>(k, 1, sorted.size()) - 1];
}

Summary summarize(std::vector<double> values) {
    Summary s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.count = values.size();
    s.median = rank(values, 0.5);
    s.p99 = rank(values, 0.99);
    s.max = values.back();
    s.min = values.front();
    double sum = 0;
    for (double v : values) sum += v;
    s.mean = sum / (double)values.size();
    return s;
}

double median(std::vector<double> values) { return summarize(std::move(values)).median; }

double line_bytes_per_second(int baud) { return baud / 10.0; }

double wire_ms(size_t wire_bytes, int baud) {
    return 1000.0 * (double)wire_bytes / line_bytes_per_second(baud);
}

}  // namespace tivbench
