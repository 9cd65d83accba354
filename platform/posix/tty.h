// The terminal device under a port: line settings through termios2 and the
// tty ioctls. The only place that knows the kernel's terminal structures.
// Functions returning int give 0 or an errno value.
#pragma once

#include <stdint.h>
#include <sys/ioctl.h>

#include "platform/posix/win32_api.h"

// Modem lines.
enum {
    TTY_DTR = TIOCM_DTR,
    TTY_RTS = TIOCM_RTS,
    TTY_CTS = TIOCM_CTS,
    TTY_DSR = TIOCM_DSR,
    TTY_RING = TIOCM_RNG,
    TTY_CD = TIOCM_CD,
};

// Whether a line running at `got` baud serves a request for `asked`.
bool tty_baud_matches(DWORD asked, DWORD got);

int tty_make_raw(int fd);
// The DCB fields termios holds (rate, character format, hardware flow,
// parity checking), read into `dcb` over the ones kept with the handle. A
// pseudo-terminal has no character framing: its driver forces CS8 and clears
// PARENB, so there the format stays as kept, and is not checked on setting.
int tty_get_state(int fd, DCB* dcb, bool pseudo_terminal);
// Applies them and reads them back; EINVAL (with the old settings restored)
// when the device did not take them.
int tty_set_state(int fd, const DCB* dcb, bool pseudo_terminal);

int tty_set_exclusive(int fd, bool on);
bool tty_is_pseudo_terminal(int fd);
int tty_input_queue(int fd, DWORD* count);
int tty_output_queue(int fd, DWORD* count);
int tty_flush(int fd, bool input, bool output);
int tty_set_break(int fd, bool on);
int tty_modem_lines(int fd, int* lines);
int tty_change_modem_lines(int fd, int lines, bool on);
