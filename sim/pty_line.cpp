#include "sim/pty_line.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <system_error>

namespace tivsim {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyLine open_pty_line() {
    PtyLine line;
    line.master.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line.master) fail("posix_openpt");
    const int m = line.master.get();
    if (grantpt(m) != 0) fail("grantpt");
    if (unlockpt(m) != 0) fail("unlockpt");
    char name[128];
    if (ptsname_r(m, name, sizeof name) != 0) fail("ptsname_r");
    line.slave_path = name;
    if (fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK) != 0) fail("fcntl O_NONBLOCK");

    line.slave_hold.reset(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line.slave_hold) fail("open pty slave");
    // No echo, no line editing, no CR/LF or XON/XOFF handling.
    termios tio{};
    if (tcgetattr(line.slave_hold.get(), &tio) != 0) fail("tcgetattr");
    cfmakeraw(&tio);
    if (tcsetattr(line.slave_hold.get(), TCSANOW, &tio) != 0) fail("tcsetattr");
    return line;
}

}  // namespace tivsim
