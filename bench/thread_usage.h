// CPU time and wake-ups of this process's threads, from the scheduler's own
// accounting (/proc/self/task/<tid>/schedstat: nanoseconds on a CPU and the
// number of times the thread was put on one).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>

#include "tests/support/process_counts.h"

namespace tivbench {

struct ThreadUsage {
    uint64_t cpu_ns = 0;
    uint64_t runs = 0;  // times scheduled in: a blocked thread that wakes adds one
};

using ::thread_ids;
// Zero for a thread that has ended.
ThreadUsage thread_usage(pid_t tid);
ThreadUsage threads_usage(const std::set<pid_t>& tids);
// CPU time of the whole process, ended threads included.
uint64_t process_cpu_ns();

// Another process: the CPU time and the context switches (voluntary or not)
// of every thread it runs now, or only of those named `thread` (their comm).
struct ProcessUsage {
    uint64_t cpu_ns = 0;
    uint64_t switches = 0;
};
ProcessUsage process_usage(pid_t pid, const char* thread = nullptr);
// The system call a thread is blocked in (x86-64 numbers), -1 when running
// or unknown.
long thread_blocked_in(pid_t tid);

inline ThreadUsage operator-(ThreadUsage a, ThreadUsage b) {
    return {a.cpu_ns - b.cpu_ns, a.runs - b.runs};
}

}  // namespace tivbench
