// Ctrl-C, SIGTERM and SIGHUP as a request to stop, for programs that must
// finish what they are doing first (a download's closing reset, a final
// state). A closed terminal sends SIGHUP, and a device must not be left in
// setup mode for it. On Windows, Ctrl-C and Ctrl-Break count as SIGINT and
// closing the console as SIGTERM.
#pragma once

#include <chrono>

namespace tivtools {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that only record the signal.
void catch_stop_signals();

// A reader that goes away (`| head -1`) makes writes to standard output fail
// instead of ending the process, so work on the bus is never cut short.
void ignore_closed_output();

// The signal that asked to stop, or 0.
int stop_signal();

// Sleeps for `period` or until a stop signal arrives, whichever is first.
void sleep_unless_stopped(std::chrono::milliseconds period);

// The usual exit status of a process ended by `signal`: 128 + its number.
int exit_status_for(int signal);

}  // namespace tivtools
