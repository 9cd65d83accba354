// Why a port or a file did not open. The error box keeps its fixed text; on
// Linux one more line on standard error names the device or file and the
// reason, which the box cannot tell apart. Windows shows the box alone.
#pragma once

#include <stdint.h>

#ifdef _WIN32
inline void explain_port_open_failure(int32_t) {}
inline void explain_file_open_failure(const char*, const char*) {}
#else
// After "Can't open COM%d at %d Bd.": the device COM<comnr> stands for, and
// whether it is missing, in use (by which process, where that can be seen),
// closed to this user, or not a serial device.
void explain_port_open_failure(int32_t comnr);

// After "Can't open file '%s'": the reason the open gave.
void explain_file_open_failure(const char* path, const char* reason);
#endif
