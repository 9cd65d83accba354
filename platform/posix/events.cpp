// Event objects. The library uses them only to mark an OVERLAPPED: every
// transfer completes before it returns, and the one operation that pends,
// the event wait, is collected through GetOverlappedResult. So an event here
// is a handle and nothing more: never signalled, not waitable.
#include <stdlib.h>

#include "platform/posix/handles.h"

static void event_destroy(HandleRecord* record) { free(record); }

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR name) {
    if (name) {  // a named event would need a namespace shared between processes
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    HandleRecord* event = handle_alloc(sizeof(HandleRecord), HANDLE_EVENT, event_destroy);
    HANDLE handle = event ? handle_publish(event) : nullptr;
    if (event && !handle) handle_release(event);
    SetLastError(handle ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY);
    return handle;
}
