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

ProcessUsage process_usage(pid_t pid, const char* thread) {
    ProcessUsage usage;
    const std::string proc = "/proc/" + std::to_string(pid) + "/task/";
    DIR* tasks = opendir(proc.c_str());
    if (!tasks) return usage;
    while (const dirent* t = readdir(tasks)) {
        if (t->d_name[0] == '.') continue;
        std::string comm;
        std::getline(std::ifstream(proc + t->d_name + "/comm"), comm);
        if (thread && comm != thread) continue;
        uint64_t cpu_ns = 0;
        std::ifstream(proc + t->d_name + "/schedstat") >> cpu_ns;
        usage.cpu_ns += cpu_ns;
        std::ifstream status(proc + t->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                usage.switches += std::stoull(line.substr(line.find(':') + 1));
    }
    closedir(tasks);
    return usage;
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
