// What a process holds (descriptors, threads, heap), to show that fault paths
// and long runs of cycles give everything back. LeakSanitizer watches the
// stand-in's handle records.
#pragma once

#include <cstddef>
#include <string>

namespace bus_test {

struct Resources {
    int fds = 0;
    int threads = 0;

    static Resources now();
    // Threads go away shortly after their owners let go: waits up
    // to two seconds for the counts to come back to `before`.
    static bool settle_to(const Resources& before);
    std::string describe_against(const Resources& before) const;
    bool operator==(const Resources&) const = default;
};

// Heap bytes in use: the sanitizer's allocator when there is one, else glibc's.
size_t heap_in_use();

// CPU time the whole process has used, in milliseconds.
double process_cpu_ms();

}  // namespace bus_test
