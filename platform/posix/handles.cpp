// The table of live handles and CloseHandle.
#include "platform/posix/handles.h"

#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>

#include "platform/posix/syscalls.h"

// A HANDLE is (generation << SLOT_BITS) | (slot + 1): never null, never
// INVALID_HANDLE_VALUE, and a slot reused later carries a new generation.
enum : uint32_t { SLOT_BITS = 20, MAX_SLOTS = 1u << SLOT_BITS, GENERATION_MASK = 0x7FFu };

struct HandleSlot {
    HandleRecord* record;  // null when free
    uint32_t generation;   // 1..GENERATION_MASK, so that handles fit 32 bits too
};

static pthread_mutex_t table_lock = PTHREAD_MUTEX_INITIALIZER;
static HandleSlot* slots;  // under table_lock; grows, never shrinks
static uint32_t slot_count;

HandleRecord* handle_alloc(size_t size, HandleKind kind, void (*destroy)(HandleRecord*)) {
    HandleRecord* record = (HandleRecord*)SYS(calloc)(1, size);
    if (!record) return nullptr;
    record->kind = kind;
    record->refs = 1;
    record->destroy = destroy;
    return record;
}

static HANDLE handle_of(uint32_t slot) {
    return (HANDLE)(((uintptr_t)slots[slot].generation << SLOT_BITS) | (slot + 1));
}

// The slot a live HANDLE names, or -1. Under the table lock.
static int64_t slot_of(HANDLE handle) {
    uint32_t slot = (uint32_t)((uintptr_t)handle & (MAX_SLOTS - 1)) - 1;
    if (slot >= slot_count || !slots[slot].record || handle_of(slot) != handle) return -1;
    return slot;
}

static bool table_grow(void) {
    uint32_t count = slot_count ? slot_count * 2 : 64;
    HandleSlot* grown = count <= MAX_SLOTS ? (HandleSlot*)realloc(slots, count * sizeof(HandleSlot)) : nullptr;
    if (!grown) return false;
    for (uint32_t i = slot_count; i < count; i++) grown[i] = HandleSlot{nullptr, 1};
    slots = grown;
    slot_count = count;
    return true;
}

HANDLE handle_publish(HandleRecord* record) {
    pthread_mutex_lock(&table_lock);
    uint32_t slot = 0;
    while (slot < slot_count && slots[slot].record) slot++;
    HANDLE handle = nullptr;
    if (slot < slot_count || table_grow()) {
        slots[slot].record = record;
        handle = handle_of(slot);
    }
    pthread_mutex_unlock(&table_lock);
    return handle;
}

HandleRecord* handle_acquire(HANDLE handle, HandleKind kind) {
    pthread_mutex_lock(&table_lock);
    int64_t slot = slot_of(handle);
    HandleRecord* record = slot < 0 || slots[slot].record->kind != kind ? nullptr : slots[slot].record;
    // The table's reference keeps the record alive until this increment.
    if (record) __atomic_add_fetch(&record->refs, 1, __ATOMIC_RELAXED);
    pthread_mutex_unlock(&table_lock);
    return record;
}

void handle_release(HandleRecord* record) {
    if (__atomic_sub_fetch(&record->refs, 1, __ATOMIC_ACQ_REL) == 0) record->destroy(record);
}

HandleRecord* handle_withdraw(HANDLE handle) {
    pthread_mutex_lock(&table_lock);
    int64_t slot = slot_of(handle);
    HandleRecord* record = nullptr;
    if (slot >= 0) {
        record = slots[slot].record;
        slots[slot].record = nullptr;
        slots[slot].generation = slots[slot].generation % GENERATION_MASK + 1;
    }
    pthread_mutex_unlock(&table_lock);
    return record;
}

BOOL CloseHandle(HANDLE handle) {
    HandleRecord* record = handle_withdraw(handle);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (record->close) record->close(record);
    handle_release(record);
    return TRUE;
}
