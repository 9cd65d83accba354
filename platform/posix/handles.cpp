// The registry of live handles and CloseHandle.
#include "platform/posix/handles.h"

#include <stdlib.h>

#include "platform/posix/testing.h"

static pthread_mutex_t registry_lock = PTHREAD_MUTEX_INITIALIZER;
static HandleRecord* registry_head;
// Atomic. Release on free, acquire on read: a test that sees a record gone
// also sees everything its last owner did before letting go.
static int records_alive;

HandleRecord* handle_alloc(size_t size, HandleKind kind, void (*destroy)(HandleRecord*)) {
    HandleRecord* record = (HandleRecord*)calloc(1, size);
    if (!record) return nullptr;
    record->kind = kind;
    record->refs = 1;
    record->destroy = destroy;
    __atomic_add_fetch(&records_alive, 1, __ATOMIC_RELAXED);
    return record;
}

void handle_discard(HandleRecord* record) {
    __atomic_sub_fetch(&records_alive, 1, __ATOMIC_RELAXED);
    free(record);
}

void handle_publish(HandleRecord* record) {
    pthread_mutex_lock(&registry_lock);
    record->next = registry_head;
    if (registry_head) registry_head->prev = record;
    registry_head = record;
    pthread_mutex_unlock(&registry_lock);
}

// Under the registry lock.
static HandleRecord* registry_find(HANDLE handle) {
    for (HandleRecord* r = registry_head; r; r = r->next)
        if ((HANDLE)r == handle) return r;
    return nullptr;
}

HandleRecord* handle_acquire(HANDLE handle, HandleKind kind) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    pthread_mutex_lock(&registry_lock);
    HandleRecord* record = registry_find(handle);
    if (record && kind != HANDLE_ANY && record->kind != kind) record = nullptr;
    // A published record holds the registry's reference, so it cannot be
    // freed between the look-up and this increment.
    if (record) __atomic_add_fetch(&record->refs, 1, __ATOMIC_RELAXED);
    pthread_mutex_unlock(&registry_lock);
    return record;
}

void handle_retain(HandleRecord* record) { __atomic_add_fetch(&record->refs, 1, __ATOMIC_RELAXED); }

void handle_release(HandleRecord* record) {
    if (__atomic_sub_fetch(&record->refs, 1, __ATOMIC_ACQ_REL) != 0) return;
    record->destroy(record);
    __atomic_sub_fetch(&records_alive, 1, __ATOMIC_RELEASE);
}

// Unpublishes the record; the registry's reference passes to the caller.
static HandleRecord* handle_withdraw(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    pthread_mutex_lock(&registry_lock);
    HandleRecord* record = registry_find(handle);
    if (record) {
        if (record->prev) record->prev->next = record->next;
        else registry_head = record->next;
        if (record->next) record->next->prev = record->prev;
        record->prev = record->next = nullptr;
    }
    pthread_mutex_unlock(&registry_lock);
    return record;
}

BOOL CloseHandle(HANDLE handle) {
    DWORD code;
    if (platform_fault_hit(PC_CloseHandle, &code)) {
        SetLastError(code);
        return FALSE;
    }
    HandleRecord* record = handle_withdraw(handle);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (record->close) record->close(record);
    handle_release(record);
    return TRUE;
}

int platform_handle_records(void) { return __atomic_load_n(&records_alive, __ATOMIC_ACQUIRE); }
