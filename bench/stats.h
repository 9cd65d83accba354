// Order statistics and small helpers shared by the benchmark programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tivbench {

struct Summary {
    size_t count = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
    double min = 0;
    double mean = 0;
};

// Nearest-rank percentiles of `values` (any order); all zero when empty.
Summary summarize(std::vector<double> values);

// Median of `values`; 0 when empty.
double median(std::vector<double> values);

// Time a frame of `wire_bytes` takes on the line: 10 bits per byte (start
// bit, 8 data bits, stop bit, no parity) at `baud`, in milliseconds.
double wire_ms(size_t wire_bytes, int baud);

// Line capacity in bytes per second at `baud` (8N1).
double line_bytes_per_second(int baud);

}  // namespace tivbench
