#include "tools/common/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tivtools {

bool is_terminal(int fd) { return isatty(fd) == 1; }

int terminal_width(int fd, int fallback) {
    struct winsize ws {};
    if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return fallback;
}

int terminal_height(int fd, int fallback) {
    struct winsize ws {};
    if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0) return ws.ws_row;
    return fallback;
}

}  // namespace tivtools
