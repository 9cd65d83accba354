#include "tools/tivgate/bus_line.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <tivlink.h>

#include <climits>

namespace tivgate {

namespace {

bool char_device(const std::string& path, dev_t* rdev) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    *rdev = st.st_rdev;
    return true;
}

}  // namespace

BusLine::BusLine(int port, int baud) : port_(port), baud_(baud) {
    const char* named = getenv(("TIVLINK_COM" + std::to_string(port)).c_str());
    path_ = named && *named ? named : "/dev/ttyS" + std::to_string(port - 1);
}

std::string BusLine::device() const {
    char resolved[PATH_MAX];
    return realpath(path_.c_str(), resolved) ? resolved : path_;
}

bool BusLine::present() const {
    dev_t rdev;
    return char_device(path_, &rdev);
}

bool BusLine::open() {
    // Taken before the open: a node replaced right after it is then noticed
    // as another device at the next check, never taken for the one opened.
    dev_t rdev = 0;
    const bool known = char_device(path_, &rdev);
    if (init_tiv3(port_, baud_) != 0) return false;  // the library says why, also for a missing node
    if (!known) char_device(path_, &rdev);
    opened_ = rdev;
    open_ = true;
    return true;
}

bool BusLine::still_there() const {
    dev_t rdev;
    return char_device(path_, &rdev) && rdev == opened_;
}

void BusLine::close() {
    if (!open_) return;
    exit_tiv3();
    open_ = false;
}

}  // namespace tivgate
