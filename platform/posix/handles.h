// Handle records. A HANDLE names a slot of the handle table and the
// generation the slot had when the record was published there; a stale or
// foreign HANDLE fails the generation check without touching any record.
#pragma once

#include <pthread.h>
#include <stddef.h>

#include "platform/posix/win32_api.h"

enum HandleKind { HANDLE_ANY = 0, HANDLE_EVENT, HANDLE_THREAD, HANDLE_PORT };

// Signal state of an event or a thread, waited on with a monotonic clock.
struct Waitable {
    pthread_mutex_t lock;
    pthread_cond_t cond;
    bool signalled;
    bool auto_reset;
};

struct HandleRecord {
    HandleKind kind;
    int refs;  // atomic: the table's, plus one per call in flight or pending operation
    Waitable* waitable;                // null for kinds that cannot be waited on
    void (*close)(HandleRecord*);      // CloseHandle's kind-specific part, may be null
    void (*destroy)(HandleRecord*);    // frees the record once the last reference is gone
};

// A zeroed record of `size` bytes with one reference, not yet reachable
// through its HANDLE. Null when memory is short.
HandleRecord* handle_alloc(size_t size, HandleKind kind, void (*destroy)(HandleRecord*));
// Frees a record that was never published.
void handle_discard(HandleRecord* record);
// Makes the record reachable through the HANDLE returned, null when the
// table cannot grow; its first reference becomes the table's.
HANDLE handle_publish(HandleRecord* record);
// Makes the record unreachable; the table's reference passes to the caller.
HandleRecord* handle_withdraw(HANDLE handle);
// A new reference to the live record behind `handle` if it is of `kind`
// (HANDLE_ANY: any), else null.
HandleRecord* handle_acquire(HANDLE handle, HandleKind kind);
void handle_retain(HandleRecord* record);
void handle_release(HandleRecord* record);

bool waitable_init(Waitable* w, bool auto_reset, bool signalled);
void waitable_destroy(Waitable* w);
void waitable_set(Waitable* w);
void waitable_reset(Waitable* w);
// WAIT_OBJECT_0 or WAIT_TIMEOUT; INFINITE waits for ever.
DWORD waitable_wait(Waitable* w, DWORD milliseconds);
