#include "bench/thread_usage.h"

#include <dirent.h>
#include <time.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace tivbench {

static std::string task_file(pid_t tid, const char* name) {
    return "/proc/self/task/" + std::to_string(tid) + "/" + name;
}

ThreadUsage thread_usage(pid_t tid) {
    ThreadUsage usage;
    uint64_t waited = 0;
    std::ifstream file(task_file(tid, "schedstat"));
    file >> usage.cpu_ns >> waited >> usage.runs;
    if (!file) return {};
    return usage;
}

ThreadUsage threads_usage(const std::set<pid_t>& tids) {
    ThreadUsage total;
    for (pid_t tid : tids) {
        ThreadUsage u = thread_usage(tid);
        total.cpu_ns += u.cpu_ns;
        total.runs += u.runs;
    }
    return total;
}

uint64_t process_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

long thread_blocked_in(pid_t tid) {
    std::ifstream file(task_file(tid, "syscall"));
    std::string first;
    file >> first;
    if (!file || first == "running") return -1;
    char* end = nullptr;
    long number = std::strtol(first.c_str(), &end, 10);
    return end && *end == '\0' ? number : -1;
}

}  // namespace tivbench
