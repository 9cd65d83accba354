// Event objects: unnamed, manual- or auto-reset.
#include <stdlib.h>

#include "platform/posix/handles.h"
#include "platform/posix/testing.h"

struct EventRecord {
    HandleRecord h;
    Waitable w;
};

static void event_destroy(HandleRecord* record) {
    EventRecord* event = (EventRecord*)record;
    waitable_destroy(&event->w);
    free(event);
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
    DWORD code;
    if (platform_fault_hit(PC_CreateEventA, &code)) {
        SetLastError(code);
        return nullptr;
    }
    // Named events would need a namespace shared between processes.
    if (name) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    EventRecord* event = (EventRecord*)handle_alloc(sizeof(EventRecord), HANDLE_EVENT, event_destroy);
    if (!event) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!waitable_init(&event->w, !manual_reset, initial_state != 0)) {
        handle_discard(&event->h);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    event->h.waitable = &event->w;
    HANDLE handle = handle_publish(&event->h);
    if (!handle) handle_release(&event->h);
    SetLastError(handle ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}

static BOOL event_change(PlatformCall call, HANDLE handle, void (*change)(Waitable*)) {
    DWORD code;
    if (platform_fault_hit(call, &code)) {
        SetLastError(code);
        return FALSE;
    }
    HandleRecord* record = handle_acquire(handle, HANDLE_EVENT);
    if (!record) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    change(record->waitable);
    handle_release(record);
    return TRUE;
}

BOOL SetEvent(HANDLE event) { return event_change(PC_SetEvent, event, waitable_set); }

BOOL ResetEvent(HANDLE event) { return event_change(PC_ResetEvent, event, waitable_reset); }
