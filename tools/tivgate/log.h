// Plain log lines on standard error, one call per line so that lines from
// the source thread and the bus thread never interleave.
#pragma once

namespace tivgate {

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tivgate
