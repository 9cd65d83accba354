// The device namespace: which device node a COM port name stands for.
#pragma once

#include <stddef.h>

#include "platform/posix/win32_api.h"

// "COM1".."COM9" (any case, optionally behind the device prefix \\.\ ) stand
// for the path in TIVLINK_COM<n> when that is set, else /dev/ttyS<n-1>.
// False for any other name, or when the path does not fit.
bool com_device_path(LPCSTR name, char* path, size_t size);
