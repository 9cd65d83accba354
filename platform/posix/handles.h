// Handle records. A HANDLE names a slot of the handle table and the
// generation the slot had when the record was published there; a stale or
// foreign HANDLE fails the generation check without touching any record.
#pragma once

#include <stddef.h>

#include "platform/posix/win32_api.h"

enum HandleKind { HANDLE_EVENT = 1, HANDLE_THREAD, HANDLE_PORT };

struct HandleRecord {
    HandleKind kind;
    int refs;                        // atomic: the table's, plus one per call in flight
    void (*close)(HandleRecord*);    // CloseHandle's kind-specific part, may be null
    void (*destroy)(HandleRecord*);  // frees the record once the last reference is gone
};

// A zeroed record of `size` bytes holding one reference, not yet reachable
// through a HANDLE; null when memory is short.
HandleRecord* handle_alloc(size_t size, HandleKind kind, void (*destroy)(HandleRecord*));
// Makes the record reachable through the HANDLE returned; its first
// reference becomes the table's. Null when the table cannot grow.
HANDLE handle_publish(HandleRecord* record);
// Makes the record unreachable; the table's reference passes to the caller.
HandleRecord* handle_withdraw(HANDLE handle);
// A new reference to the live record of `kind` behind `handle`, else null.
HandleRecord* handle_acquire(HANDLE handle, HandleKind kind);
void handle_release(HandleRecord* record);
