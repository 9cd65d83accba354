// A pseudo-terminal standing in for the serial line: the library opens the
// slave as its COM port, the bus works the master.
#pragma once

#include <string>

#include "sim/unique_fd.h"

namespace tivsim {

struct PtyLine {
    UniqueFd master;       // non-blocking; owned by the bus's reader thread while it runs
    UniqueFd slave_hold;   // kept open so the master never sees a hang-up between opens
    std::string slave_path;
};

// Opens a new pty with raw line settings, so bytes pass unchanged both ways
// until the library sets its own. Throws std::system_error on failure.
PtyLine open_pty_line();

}  // namespace tivsim
