// Ctrl-C and SIGTERM as a request to stop, for programs that must finish
// what they are doing first (a download's closing reset, a final state).
// On Windows, Ctrl-C and Ctrl-Break count as SIGINT and closing the console
// as SIGTERM.
#pragma once

#include <chrono>

namespace tivtools {

// Installs handlers for SIGINT and SIGTERM that only record the signal.
void catch_stop_signals();

// The signal that asked to stop, or 0.
int stop_signal();

// Sleeps for `period` or until a stop signal arrives, whichever is first.
void sleep_unless_stopped(std::chrono::milliseconds period);

// The usual exit status of a process ended by `signal`: 128 + its number.
int exit_status_for(int signal);

}  // namespace tivtools
