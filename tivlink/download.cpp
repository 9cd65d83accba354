// The background download: one image byte per frame, paced by fixed pauses,
// while the host polls e2_percent and may clear e2_cmd to stop.
#include <stdlib.h>

#include "diagnostics/diagnostics.h"
#include "tivlink.h"
#include "tivlink/connection.h"
#include "tivlink/eeprom.h"
#include "tivlink/frame.h"
#include "tivlink/setup.h"

volatile int32_t e2_percent;
volatile int32_t e2_cmd;
uint32_t download_adr;
// Where the one download worker is. The host's thread moves it from idle to
// sending; the worker moves it on to ending once it has sent its last frame,
// and to idle after its last store. Only this word says whether the port
// record, the frame buffer and the run flag still have a second user.
enum : int32_t { WORKER_IDLE = 0, WORKER_SENDING = 1, WORKER_ENDING = 2 };
static volatile int32_t worker_state;

// Thread exit codes: the host can tell a download whose every frame went out
// whole from one that met write errors.
enum : DWORD { DOWNLOAD_OK = 0, DOWNLOAD_FRAMES_FAILED = 1 };

// Progress before byte i; the length is read afresh, and a host that left it
// at zero gets 0 rather than a division by zero.
static int32_t progress(uint32_t i) {
    uint32_t len = e2_len;
    return len ? (int32_t)(i * 100u / len) : 0;
}

// What every end of a worker does last: after it, the worker touches
// nothing the host may free or reuse. A host that polls the run flag may
// start the next download as soon as it reads 0, so that download waits out
// the ending state rather than being refused.
static DWORD worker_end(bool failed) {
    e2_store(&e2_percent, 0);
    e2_store(&worker_state, WORKER_ENDING);
    e2_store(&e2_cmd, 0);
    e2_store(&worker_state, WORKER_IDLE);
    return failed ? DOWNLOAD_FRAMES_FAILED : DOWNLOAD_OK;
}

DWORD WINAPI download_worker(LPVOID argument) {
    if (argument) return 0;
    tiv_pause_own_thread();
    uint32_t a = download_adr;
    // A block the loader would refuse would write the device's address bytes
    // below 16 or run past the end of the EEPROM.
    if (!e2_block_in_range(e2_adr, e2_len)) {
        MsgError("Transfer Error, Code: %x, %d)", e2_adr, e2_len);
        return worker_end(true);
    }
    bool failed = setup_begin(a, PAUSE_SETUP_BEGIN) != 0;
    uint32_t remaining = e2_len;
    uint32_t address = e2_adr;
    e2_store(&e2_percent, 0);
    // Never past the image block, whatever length the host left there.
    for (uint32_t i = 0; remaining != 0 && i < E2_SIZE && e2_load(&e2_cmd) == 1; i++, address++) {
        remaining--;
        e2_store(&e2_percent, progress(i));
        // The wire carries the low 16 bits of the EEPROM address.
        failed |= setup_write(a, CMD_IMAGE_WRITE, (uint16_t)address, e2_data[i]) != 0;
    }
    failed |= setup_reset(a) != 0;
    return worker_end(failed);
}

// The worker of a refused download: nothing to send, and a failure to report.
static DWORD WINAPI download_refused(LPVOID) { return DOWNLOAD_FRAMES_FAILED; }

static HANDLE start_thread(LPTHREAD_START_ROUTINE routine) {
    HANDLE worker = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
    if (!worker) {
        MsgError("Fatal Error: Create Thread failed");
        exit(-1);
    }
    return worker;
}

// True once this thread has claimed the worker; false while another runs.
static bool claim_worker(void) {
    for (;;) {
        int32_t seen = WORKER_IDLE;
        if (__atomic_compare_exchange_n(&worker_state, &seen, WORKER_SENDING, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            return true;
        if (seen == WORKER_SENDING) return false;
        Sleep(0);  // an ending worker has two stores left
    }
}

void* download(uint32_t a) {
    // A second worker would share the frame buffer and the image block with
    // the first; it still gets a handle, so the host's join works as always.
    if (!claim_worker()) {
        MsgError("Download refused: a download is already running.");
        return start_thread(download_refused);
    }
    download_adr = a;
    return start_thread(download_worker);
}

void download_stop_and_wait(void) {
    if (e2_load(&worker_state) == WORKER_IDLE) return;
    e2_store(&e2_cmd, 0);
    // Bounded by the worker itself: at most the frame in hand (its write
    // times out after a second) and the closing reset with its pauses.
    while (e2_load(&worker_state) != WORKER_IDLE) Sleep(1);
}

#ifndef _WIN32
int32_t tiv_thread_join(void* handle) {
    if (!handle) return -1;
    WaitForSingleObject(handle, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeThread(handle, &code)) code = (DWORD)-1;
    CloseHandle(handle);
    return (int32_t)code;
}
#endif
