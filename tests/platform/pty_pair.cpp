#include "pty_pair.h"

#include <asm/termbits.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_path_ = ptsname(master_);
    slave_probe_ = open(slave_path_.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_probe_ < 0) throw std::runtime_error("cannot open " + slave_path_);
}

PtyPair::~PtyPair() {
    if (slave_probe_ >= 0) close(slave_probe_);
    if (master_ >= 0) close(master_);
}

void PtyPair::map_to_com(int n) const {
    std::string name = "TIVLINK_COM" + std::to_string(n);
    setenv(name.c_str(), slave_path_.c_str(), 1);
}

void PtyPair::write(const void* data, size_t size) const {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(master_, p, size);
        if (n > 0) {
            p += n;
            size -= (size_t)n;
        } else {
            pollfd fd{master_, POLLOUT, 0};
            if (poll(&fd, 1, 2000) <= 0) throw std::runtime_error("master write stalled");
        }
    }
}

std::vector<uint8_t> PtyPair::read(size_t count, int quiet_ms) const {
    std::vector<uint8_t> got;
    uint8_t buffer[4096];
    while (got.size() < count) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, quiet_ms) <= 0) break;
        ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

void PtyPair::close_master() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

SlaveTermios PtyPair::slave_termios() const {
    termios2 t{};
    if (ioctl(slave_probe_, TCGETS2, &t) != 0) throw std::runtime_error("TCGETS2");
    return SlaveTermios{t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_ispeed, t.c_ospeed};
}

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
int thread_count() { return count_entries("/proc/self/task", 0); }

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
