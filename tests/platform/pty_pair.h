// A pseudo-terminal for the port tests: the master is the far end of the
// line; COM<n> is pointed at the slave.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

struct SlaveTermios {
    uint32_t iflag, oflag, cflag, lflag, ispeed, ospeed;
};

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    // Sets TIVLINK_COM<n> to the slave.
    void map_to_com(int n) const;
    void write(const void* data, size_t size) const;
    // Reads until `count` bytes arrived or nothing came for `quiet_ms`.
    std::vector<uint8_t> read(size_t count, int quiet_ms = 300) const;
    // Hangs up the line: the far end goes away.
    void close_master();
    // The slave's settings as the kernel holds them.
    SlaveTermios slave_termios() const;

private:
    int master_ = -1;
    int slave_probe_ = -1;  // opened before the port takes the slave exclusively
    std::string slave_path_;
};

int open_fd_count();
int thread_count();
// The thread count to compare against later: taken after one thread has
// come and gone, so that helpers a sanitizer starts with the first thread
// are already counted.
int baseline_thread_count();
// The count of `count_fn` once it has settled at `expected` within
// `timeout_ms` (threads leave /proc/self/task shortly after being joined).
int settled_count(int (*count_fn)(), int expected, int timeout_ms = 2000);
