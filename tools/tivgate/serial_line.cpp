#include "tools/tivgate/serial_line.h"

#include "tools/tivgate/look_send.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <tivlink.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace tivgate {

SerialLine::SerialLine(std::string path, int port, int baud) : path_(std::move(path)), port_(port), baud_(baud) {}

std::string SerialLine::device() const {
    char resolved[PATH_MAX];
    return realpath(path_.c_str(), resolved) ? resolved : path_;
}

std::optional<NodeId> SerialLine::node() const {
    struct stat st;
    if (stat(path_.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return std::nullopt;
    return NodeId{st.st_dev, st.st_ino, st.st_rdev};
}

// What the library's open would run into first: the open itself (another
// user's exclusive tty, permissions) and the advisory lock it takes.
std::optional<std::string> SerialLine::busy() const {
    const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string(strerror(errno));
    std::optional<std::string> why;
    if (!isatty(fd)) why = "not a terminal";
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0) why = errno == EWOULDBLOCK ? "in use by another process" : strerror(errno);
    ::close(fd);  // lets go of the lock, if it was had
    return why;
}

bool SerialLine::open() {
    open_ = init_tiv3(port_, baud_) == 0;
    return open_;
}

void SerialLine::close() {
    if (!open_) return;
    exit_tiv3();
    open_ = false;
}

bool SerialLine::send(const Job& job) { return send_look(job); }

}  // namespace tivgate
