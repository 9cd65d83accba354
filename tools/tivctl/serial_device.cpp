#include "tools/tivctl/serial_device.h"

#include <fcntl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

namespace tivctl {

namespace {

// Line speeds for the rates that divide 115200 and have a termios constant.
speed_t speed_for(uint32_t baud) {
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    }
    return B0;
}

}  // namespace

tivsim::UniqueFd open_serial_device(const std::string& path, uint32_t baud, std::string& error) {
    const speed_t speed = speed_for(baud);
    if (speed == B0) {
        error = "baud rate " + std::to_string(baud) + " has no Linux line speed";
        return {};
    }
    tivsim::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return {};
    }
    struct termios t {};
    if (tcgetattr(fd.get(), &t) != 0) {
        error = path + " is not a serial line: " + std::strerror(errno);
        return {};
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd.get(), TCSANOW, &t) != 0) {
        error = "cannot set up " + path + ": " + std::strerror(errno);
        return {};
    }
    return fd;
}

}  // namespace tivctl
