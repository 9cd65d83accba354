// Fault injection for tests: a table of armed failures, one row per service.
#include <pthread.h>
#include <stdlib.h>

#include "platform/posix/testing.h"
#include "platform/win32.h"

struct FaultRow {
    DWORD code;
    int skip;
    int times;  // 0: disarmed; < 0: for ever
};

static pthread_mutex_t fault_lock = PTHREAD_MUTEX_INITIALIZER;
static FaultRow fault_rows[PC_COUNT];
// Read without the lock on the fast path: a test arms faults before it
// starts the calls that should meet them.
static volatile int faults_armed;

void platform_fault_set(PlatformCall call, DWORD code, int skip, int times) {
    pthread_mutex_lock(&fault_lock);
    fault_rows[call] = FaultRow{code, skip, times};
    faults_armed = 1;
    pthread_mutex_unlock(&fault_lock);
}

void platform_fault_clear_all(void) {
    pthread_mutex_lock(&fault_lock);
    for (FaultRow& row : fault_rows) row = FaultRow{0, 0, 0};
    faults_armed = 0;
    pthread_mutex_unlock(&fault_lock);
}

bool platform_fault_hit(PlatformCall call, DWORD* code) {
    if (!__atomic_load_n(&faults_armed, __ATOMIC_ACQUIRE)) return false;
    bool hit = false;
    pthread_mutex_lock(&fault_lock);
    FaultRow& row = fault_rows[call];
    if (row.times != 0) {
        if (row.skip > 0) {
            row.skip--;
        } else {
            hit = true;
            *code = row.code;
            if (row.times > 0) row.times--;
        }
    }
    pthread_mutex_unlock(&fault_lock);
    return hit;
}

void* tiv_calloc(size_t count, size_t size) {
    DWORD code;
    if (platform_fault_hit(PC_Calloc, &code)) return nullptr;
    return calloc(count, size);
}
