#include "tests/support/process_counts.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <thread>

static int count_entries(const char* dir_path, int own_entries) {
    DIR* dir = opendir(dir_path);
    if (!dir) return -1;
    int count = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') count++;
    closedir(dir);
    return count - own_entries;
}

// Listing /proc/self/fd opens one descriptor of its own.
int open_fd_count() { return count_entries("/proc/self/fd", 1); }

// A thread stays listed for a moment after its join has returned, but by
// then the kernel has taken its memory map away: one without is gone.
static bool has_memory_map(const char* tid) {
    char line[128];
    FILE* status = fopen((std::string("/proc/self/task/") + tid + "/status").c_str(), "r");
    bool mapped = false;
    while (status && !mapped && fgets(line, sizeof line, status)) mapped = strncmp(line, "VmSize:", 7) == 0;
    if (status) fclose(status);
    return mapped;
}

int thread_count() {
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return -1;
    int count = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.' && has_memory_map(e->d_name)) count++;
    closedir(dir);
    return count;
}

std::set<pid_t> thread_ids() {
    std::set<pid_t> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.') ids.insert((pid_t)std::atoi(e->d_name));
        closedir(dir);
    }
    return ids;
}

int baseline_thread_count() {
    std::thread([] {}).join();
    return thread_count();
}

int settled_count(int (*count_fn)(), int expected, int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int now = count_fn();
    while (now != expected && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        now = count_fn();
    }
    return now;
}
