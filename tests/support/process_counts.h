// What this process holds, to show that cycles and failures give back every
// descriptor and thread.
#pragma once

#include <sys/types.h>

#include <set>

std::set<pid_t> thread_ids();
int open_fd_count();
// Threads that have not ended: a joined one can still be listed for a moment.
int thread_count();
// The thread count to compare against later: taken after one thread has
// come and gone, so that helpers a sanitizer starts with the first thread
// are already counted.
int baseline_thread_count();
// The count of `count_fn` once it has settled at `expected` within
// `timeout_ms` (threads leave /proc/self/task shortly after being joined).
int settled_count(int (*count_fn)(), int expected, int timeout_ms = 2000);
