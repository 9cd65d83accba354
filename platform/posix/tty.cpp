// termios2 and tty ioctls. termios2 carries any baud rate (BOTHER), which
// the classic speed codes lack for rates such as 14400 and 28800.
#include "platform/posix/tty.h"

#include "platform/posix/syscalls.h"

#include <asm/termbits.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int ioctl_result(int rc) { return rc == 0 ? 0 : errno; }

int tty_make_raw(int fd) {
    termios2 t;
    if (SYS(ioctl)(fd, TCGETS2, &t) != 0) return errno;
    // Binary frames: no input translation, no output post-processing, no
    // canonical mode, no echo, no signals; 8N1 at the current speed.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | IUCLC | IMAXBEL | IGNPAR | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | XCASE);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // VMIN 1 makes an empty non-blocking read fail with EAGAIN, so that a
    // read of 0 bytes means the line has hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ioctl_result(SYS(ioctl)(fd, TCSETS2, &t));
}

static const tcflag_t LINE_CFLAGS = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
static const tcflag_t LINE_IFLAGS = IXON | IXOFF | INPCK;  // software flow is always off

static void state_to_termios(const DCB* d, termios2* t) {
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t->c_cflag &= ~(LINE_CFLAGS | CBAUD | (CBAUD << IBSHIFT));  // input speed = output speed
    t->c_cflag |= BOTHER | sizes[d->ByteSize - 5];
    t->c_ispeed = t->c_ospeed = d->BaudRate;
    static const tcflag_t parities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
    t->c_cflag |= parities[d->Parity];
    if (d->StopBits != ONESTOPBIT) t->c_cflag |= CSTOPB;
    if (d->fOutxCtsFlow) t->c_cflag |= CRTSCTS;
    t->c_iflag &= ~LINE_IFLAGS;
    if (d->fParity) t->c_iflag |= INPCK;
}

// A UART derives its rate from a clock divisor; within 2% the receiver
// still samples every bit correctly.
bool tty_baud_matches(DWORD asked, DWORD got) {
    DWORD diff = asked > got ? asked - got : got - asked;
    return (uint64_t)diff * 50 <= asked;
}

int tty_get_state(int fd, DCB* d, bool pseudo_terminal) {
    termios2 t;
    if (SYS(ioctl)(fd, TCGETS2, &t) != 0) return errno;
    tcflag_t c = t.c_cflag;
    // Keep the rate as asked while the device runs at it (a UART may round).
    if (!tty_baud_matches(d->BaudRate, t.c_ospeed)) d->BaudRate = t.c_ospeed;
    if (!pseudo_terminal) {
        d->ByteSize = (c & CSIZE) == CS5 ? 5 : (c & CSIZE) == CS6 ? 6 : (c & CSIZE) == CS7 ? 7 : 8;
        d->Parity = !(c & PARENB) ? NOPARITY
                    : (c & CMSPAR) ? ((c & PARODD) ? MARKPARITY : SPACEPARITY)
                                   : ((c & PARODD) ? ODDPARITY : EVENPARITY);
        d->StopBits = !(c & CSTOPB) ? ONESTOPBIT : d->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    d->fOutxCtsFlow = (c & CRTSCTS) != 0;
    if (d->fOutxCtsFlow) d->fRtsControl = RTS_CONTROL_HANDSHAKE;
    else if (d->fRtsControl == RTS_CONTROL_HANDSHAKE) d->fRtsControl = RTS_CONTROL_ENABLE;
    d->fParity = (t.c_iflag & INPCK) != 0;
    return 0;
}

int tty_set_state(int fd, const DCB* d, bool pseudo_terminal) {
    termios2 old_t, t, back;
    if (SYS(ioctl)(fd, TCGETS2, &old_t) != 0) return errno;
    t = old_t;
    state_to_termios(d, &t);
    if (SYS(ioctl)(fd, TCSETS2, &t) != 0) return errno;
    if (SYS(ioctl)(fd, TCGETS2, &back) != 0) return errno;
    // Drivers quietly drop what their hardware cannot do: look at what stuck.
    tcflag_t checked = pseudo_terminal ? LINE_CFLAGS & ~(CSIZE | PARENB) : LINE_CFLAGS;
    bool taken = (back.c_cflag & checked) == (t.c_cflag & checked) &&
                 (back.c_iflag & LINE_IFLAGS) == (t.c_iflag & LINE_IFLAGS) &&
                 tty_baud_matches(d->BaudRate, back.c_ospeed);
    if (taken) return 0;
    SYS(ioctl)(fd, TCSETS2, &old_t);
    return EINVAL;
}

int tty_set_exclusive(int fd, bool on) { return ioctl_result(SYS(ioctl)(fd, on ? TIOCEXCL : TIOCNXCL, nullptr)); }

// Pseudo-terminal slaves: the Unix 98 majors 136..143 and the legacy major 3.
bool tty_is_pseudo_terminal(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

int tty_input_queue(int fd, DWORD* count) {
    int n = 0;
    if (SYS(ioctl)(fd, FIONREAD, &n) != 0) return errno;
    *count = n > 0 ? (DWORD)n : 0;
    return 0;
}

int tty_output_queue(int fd, DWORD* count) {
    int n = 0;
    if (SYS(ioctl)(fd, TIOCOUTQ, &n) != 0) return errno;
    *count = n > 0 ? (DWORD)n : 0;
    return 0;
}

int tty_flush(int fd, bool input, bool output) {
    if (!input && !output) return 0;
    int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return ioctl_result(SYS(ioctl)(fd, TCFLSH, (void*)(intptr_t)which));
}

int tty_set_break(int fd, bool on) { return ioctl_result(SYS(ioctl)(fd, on ? TIOCSBRK : TIOCCBRK, nullptr)); }

int tty_modem_lines(int fd, int* lines) { return ioctl_result(SYS(ioctl)(fd, TIOCMGET, lines)); }

int tty_change_modem_lines(int fd, int lines, bool on) {
    return ioctl_result(SYS(ioctl)(fd, on ? TIOCMBIS : TIOCMBIC, &lines));
}
