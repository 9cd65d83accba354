// The one door to the operating system for library code. On Windows it is the
// real Win32 API; elsewhere it is our own stand-in with the same names, types
// and error codes, so the modules above compile unchanged on both.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/posix/win32_api.h"
#endif

#include <stddef.h>

// Heap for records the library owns. On Linux it goes through the stand-in's
// system-call table, so out-of-memory paths can be driven; on Windows it is
// the C runtime's.
#ifdef _WIN32
#include <stdlib.h>
inline void* tiv_calloc(size_t count, size_t size) { return calloc(count, size); }
#else
void* tiv_calloc(size_t count, size_t size);
#endif
