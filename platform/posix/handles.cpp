// The registry of live handles and CloseHandle.
#include "platform/posix/handles.h"

#include <stdint.h>
#include <stdlib.h>

#include "platform/posix/testing.h"

// A HANDLE is (generation << SLOT_BITS) | (slot + 1): never null, never
// INVALID_HANDLE_VALUE, and a slot reused later carries a new generation.
enum { SLOT_BITS = 20, MAX_SLOTS = 1 << SLOT_BITS };

struct HandleSlot {
    HandleRecord* record;  // null when free
    uint32_t generation;
};

static pthread_mutex_t table_lock = PTHREAD_MUTEX_INITIALIZER;
static HandleSlot* slots;  // grows, never shrinks; under table_lock
static uint32_t slot_count;
static uint32_t free_hint;
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

static HANDLE handle_of(uint32_t slot) {
    return (HANDLE)(((uintptr_t)slots[slot].generation << SLOT_BITS) | (slot + 1));
}

// The slot a live HANDLE names, or -1. Under the table lock.
static int64_t slot_of(HANDLE handle) {
    uintptr_t value = (uintptr_t)handle;
    uint32_t slot = (uint32_t)(value & (MAX_SLOTS - 1)) - 1;
    if ((value & (MAX_SLOTS - 1)) == 0 || slot >= slot_count || !slots[slot].record) return -1;
    return handle_of(slot) == handle ? (int64_t)slot : -1;
}

static bool table_grow(void) {
    uint32_t count = slot_count ? slot_count * 2 : 64;
    if (count > MAX_SLOTS) return false;
    HandleSlot* grown = (HandleSlot*)realloc(slots, count * sizeof(HandleSlot));
    if (!grown) return false;
    for (uint32_t i = slot_count; i < count; i++) grown[i] = HandleSlot{nullptr, 1};
    slots = grown;
    slot_count = count;
    return true;
}

HANDLE handle_publish(HandleRecord* record) {
    pthread_mutex_lock(&table_lock);
    uint32_t slot = free_hint;
    while (slot < slot_count && slots[slot].record) slot++;
    if (slot == slot_count) {
        for (slot = 0; slot < slot_count && slots[slot].record; slot++) {
        }
    }
    HANDLE handle = nullptr;
    if (slot < slot_count || table_grow()) {
        slots[slot].record = record;
        free_hint = slot + 1;
        handle = handle_of(slot);
    }
    pthread_mutex_unlock(&table_lock);
    return handle;
}

HandleRecord* handle_acquire(HANDLE handle, HandleKind kind) {
    pthread_mutex_lock(&table_lock);
    int64_t slot = slot_of(handle);
    HandleRecord* record = slot < 0 ? nullptr : slots[slot].record;
    if (record && kind != HANDLE_ANY && record->kind != kind) record = nullptr;
    // A published record holds the table's reference, so it cannot be
    // freed between the look-up and this increment.
    if (record) __atomic_add_fetch(&record->refs, 1, __ATOMIC_RELAXED);
    pthread_mutex_unlock(&table_lock);
    return record;
}

void handle_retain(HandleRecord* record) { __atomic_add_fetch(&record->refs, 1, __ATOMIC_RELAXED); }

void handle_release(HandleRecord* record) {
    if (__atomic_sub_fetch(&record->refs, 1, __ATOMIC_ACQ_REL) != 0) return;
    record->destroy(record);
    __atomic_sub_fetch(&records_alive, 1, __ATOMIC_RELEASE);
}

HandleRecord* handle_withdraw(HANDLE handle) {
    pthread_mutex_lock(&table_lock);
    int64_t slot = slot_of(handle);
    HandleRecord* record = nullptr;
    if (slot >= 0) {
        record = slots[slot].record;
        slots[slot].record = nullptr;
        // Generations wrap within the bits left above the slot number.
        slots[slot].generation = (slots[slot].generation + 1) & ((UINTPTR_MAX >> SLOT_BITS) & 0xFFFFFFFFu);
        if (slots[slot].generation == 0) slots[slot].generation = 1;
        if ((uint32_t)slot < free_hint) free_hint = (uint32_t)slot;
    }
    pthread_mutex_unlock(&table_lock);
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
