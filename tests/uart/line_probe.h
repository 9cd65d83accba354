// Plain ioctls on a port the library holds, kept apart from the library's
// headers because the kernel's termios2 header clashes with libc's.
#pragma once

#include <cstdint>

struct LineState {
    bool ok = false;
    uint32_t out_speed = 0;
    uint32_t in_speed = 0;
    int data_bits = 0;
    bool parity = false;
    bool two_stop = false;
    bool rtscts = false;
    bool xon_xoff = false;
    int modem = 0;  // TIOCM_* bits
};

LineState probe_line(int fd);
int queued_input(int fd);  // bytes in the receive queue, -1 on error
// Stops or restarts the tty's output as a received XOFF/XON would; 0 or -1.
int stop_output(int fd, bool stop);

// Modem-line bits as TIOCMGET reports them.
int tiocm_dtr();
int tiocm_rts();
int tiocm_cts();
int tiocm_dsr();
int tiocm_cd();
int tiocm_ri();
