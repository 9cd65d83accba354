// `tivctl download`: the background download with its progress display and
// a clean stop on Ctrl-C or SIGTERM.
#pragma once

#include <cstdint>
#include <cstdio>

#include "tools/common/progress.h"

namespace tivctl {

// On an open connection with the image loaded: starts the worker, shows
// progress until it ends, and waits for its handle. A stop signal clears
// the run flag first; the worker then sends its closing reset and ends.
// Returns 0, kExitFailed when frames failed, or 128 + the stop signal.
// Progress goes to `progress` (stderr when stdout carries JSON).
int run_download(uint32_t address, tivtools::Millis line_interval, FILE* progress = stdout);

}  // namespace tivctl
