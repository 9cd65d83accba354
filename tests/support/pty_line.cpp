#include "tests/support/pty_line.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

PtyLine::PtyLine(int comnr_) : comnr(comnr_) {
    int slave = -1;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    // The slave is opened again by the library; the test keeps none open so
    // that a closed port shows as a hang-up on the master.
    struct termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    close(slave);
    slave_path = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    setenv(("TIVLINK_COM" + std::to_string(comnr)).c_str(), slave_path.c_str(), 1);
}

PtyLine::~PtyLine() {
    unsetenv(("TIVLINK_COM" + std::to_string(comnr)).c_str());
    if (master >= 0) close(master);
}

std::vector<uint8_t> PtyLine::read(size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        struct pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, (int)left.count()) <= 0) continue;
        uint8_t buf[4096];
        ssize_t n = ::read(master, buf, std::min(sizeof buf, count - got.size()));
        if (n > 0) got.insert(got.end(), buf, buf + n);
        else if (n < 0 && errno != EAGAIN) break;  // EIO: no slave open
    }
    return got;
}

std::vector<uint8_t> PtyLine::read_until_quiet(std::chrono::milliseconds quiet) {
    std::vector<uint8_t> got;
    for (;;) {
        struct pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, (int)quiet.count()) <= 0) return got;
        uint8_t buf[4096];
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) return got;
        got.insert(got.end(), buf, buf + n);
    }
}

void PtyLine::write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else {
            struct pollfd p = {master, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) throw std::runtime_error("pty master write stalled");
        }
    }
}

static int count_entries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') n++;
        closedir(d);
    }
    return n;
}

ProcessResources process_resources() {
    return ProcessResources{count_entries("/proc/self/fd"), count_entries("/proc/self/task")};
}
