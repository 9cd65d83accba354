// Handle records. A HANDLE points at a heap record that starts with a
// HandleRecord; the registry of live handles tells a valid HANDLE from a
// stale or foreign one without touching the memory it points at.
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
    int refs;  // atomic: the registry's, plus one per call in flight or pending operation
    HandleRecord* prev;  // registry links, under the registry lock
    HandleRecord* next;
    Waitable* waitable;                // null for kinds that cannot be waited on
    void (*close)(HandleRecord*);      // CloseHandle's kind-specific part, may be null
    void (*destroy)(HandleRecord*);    // frees the record once the last reference is gone
};

// A zeroed record of `size` bytes with one reference, not yet reachable
// through its HANDLE. Null when memory is short.
HandleRecord* handle_alloc(size_t size, HandleKind kind, void (*destroy)(HandleRecord*));
// Frees a record that was never published.
void handle_discard(HandleRecord* record);
// Makes the record reachable; its first reference becomes the registry's.
void handle_publish(HandleRecord* record);
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
