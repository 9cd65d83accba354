#include "tests/support/pty_line.h"

#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace {

// cfmakeraw's flags, through termios2: <termios.h> and <asm/termbits.h>
// cannot be included together.
void make_raw(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8;
    ioctl(fd, TCSETS2, &t);
}

}  // namespace

PtyLine::PtyLine(int comnr_, bool hold_slave, bool raw) {
    // Close-on-exec: a child process must not keep the line alive.
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pseudo-terminal");
    slave_path = ptsname(master);
    int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) throw std::runtime_error("cannot open " + slave_path);
    if (raw) make_raw(slave);
    if (hold_slave) slave_probe_ = slave;
    else close(slave);
    if (comnr_) map_to_com(comnr_);
}

PtyLine::~PtyLine() {
    if (comnr) unsetenv(("TIVLINK_COM" + std::to_string(comnr)).c_str());
    if (slave_probe_ >= 0) close(slave_probe_);
    if (master >= 0) close(master);
}

void PtyLine::map_to_com(int n) {
    comnr = n;
    setenv(("TIVLINK_COM" + std::to_string(n)).c_str(), slave_path.c_str(), 1);
}

std::vector<uint8_t> PtyLine::read(size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> got;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, (int)left.count()) <= 0) continue;
        uint8_t buf[4096];
        ssize_t n = ::read(master, buf, std::min(sizeof buf, count - got.size()));
        if (n > 0) got.insert(got.end(), buf, buf + n);
        else if (n < 0 && errno != EAGAIN) break;  // EIO: no slave open
    }
    return got;
}

std::vector<uint8_t> PtyLine::read_until_quiet(std::chrono::milliseconds quiet, size_t count) {
    std::vector<uint8_t> got;
    while (got.size() < count) {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, (int)quiet.count()) <= 0) break;
        uint8_t buf[4096];
        ssize_t n = ::read(master, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

void PtyLine::write(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(master, p, size);
        if (n > 0) {
            p += n;
            size -= (size_t)n;
        } else {
            pollfd fd = {master, POLLOUT, 0};
            if (poll(&fd, 1, 2000) <= 0) throw std::runtime_error("pty master write stalled");
        }
    }
}

void PtyLine::close_master() {
    if (master >= 0) close(master);
    master = -1;
}

SlaveTermios PtyLine::slave_termios() const {
    termios2 t{};
    if (slave_probe_ < 0 || ioctl(slave_probe_, TCGETS2, &t) != 0) throw std::runtime_error("TCGETS2");
    return SlaveTermios{t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_ispeed, t.c_ospeed};
}
