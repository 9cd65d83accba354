#include "tests/uart/line_probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

LineState probe_line(int fd) {
    LineState s;
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0 || ioctl(fd, TIOCMGET, &s.modem) != 0) return s;
    s.ok = true;
    s.out_speed = t.c_ospeed;
    s.in_speed = t.c_ispeed;
    switch (t.c_cflag & CSIZE) {
        case CS5: s.data_bits = 5; break;
        case CS6: s.data_bits = 6; break;
        case CS7: s.data_bits = 7; break;
        default: s.data_bits = 8; break;
    }
    s.parity = (t.c_cflag & PARENB) != 0;
    s.two_stop = (t.c_cflag & CSTOPB) != 0;
    s.rtscts = (t.c_cflag & CRTSCTS) != 0;
    s.xon_xoff = (t.c_iflag & (IXON | IXOFF)) != 0;
    return s;
}

int queued_input(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

int stop_output(int fd, bool stop) { return ioctl(fd, TCXONC, stop ? TCOOFF : TCOON); }

int tiocm_dtr() { return TIOCM_DTR; }
int tiocm_rts() { return TIOCM_RTS; }
int tiocm_cts() { return TIOCM_CTS; }
int tiocm_dsr() { return TIOCM_DSR; }
int tiocm_cd() { return TIOCM_CD; }
int tiocm_ri() { return TIOCM_RI; }
