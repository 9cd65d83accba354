// Win32 error codes for the errno values the stand-in meets.
#pragma once

#include "platform/posix/win32_api.h"

// General mapping, for device and resource calls.
DWORD win32_error_from_errno(int err);
// Mapping for opening a device: anything that says "no such device" is
// ERROR_FILE_NOT_FOUND, anything that says "held by someone" is
// ERROR_ACCESS_DENIED, as Windows reports for a COM port.
DWORD win32_open_error_from_errno(int err);
// Mapping for modem-line and break requests: a device without such lines
// (a pseudo-terminal) gives ERROR_NOT_SUPPORTED.
DWORD win32_line_error_from_errno(int err);
