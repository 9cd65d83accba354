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

// Thread exit codes: the host can tell a download whose every frame went out
// whole from one that met write errors.
enum : DWORD { DOWNLOAD_OK = 0, DOWNLOAD_FRAMES_FAILED = 1 };

static int32_t send_begin(uint32_t a) {
    const uint8_t payload[1] = {0x00};
    int32_t result = tiv_frame_send(a, CMD_SETUP_BEGIN, payload, sizeof payload);
    tiv_pause(PAUSE_SETUP_BEGIN);
    return result;
}

static int32_t send_image_byte(uint32_t a, uint32_t e2_address, uint8_t value) {
    const uint8_t payload[3] = {(uint8_t)(e2_address >> 8), (uint8_t)e2_address, value};
    int32_t result = tiv_frame_send(a, CMD_IMAGE_WRITE, payload, sizeof payload);
    tiv_pause(PAUSE_EEPROM_BYTE);
    return result;
}

static int32_t send_reset(uint32_t a) {
    int32_t result = tiv_frame_send(a, CMD_RESET, nullptr, 0);
    tiv_pause(PAUSE_AFTER_RESET);
    return result;
}

// Progress before byte i; the length is read afresh, and a host that left it
// at zero gets 0 rather than a division by zero.
static int32_t progress(uint32_t i) {
    uint32_t len = e2_len;
    return len ? (int32_t)(i * 100u / len) : 0;
}

DWORD WINAPI download_worker(LPVOID argument) {
    if (argument) return 0;
    uint32_t a = download_adr;
    bool failed = send_begin(a) != 0;
    uint32_t remaining = e2_len;
    uint32_t address = e2_adr;
    e2_store(&e2_percent, 0);
    // Never past the image block, whatever length the host left there.
    for (uint32_t i = 0; remaining != 0 && i < E2_SIZE && e2_load(&e2_cmd) == 1; i++, address++) {
        remaining--;
        e2_store(&e2_percent, progress(i));
        failed |= send_image_byte(a, address, e2_data[i]) != 0;
    }
    failed |= send_reset(a) != 0;
    e2_store(&e2_percent, 0);
    e2_store(&e2_cmd, 0);
    return failed ? DOWNLOAD_FRAMES_FAILED : DOWNLOAD_OK;
}

void* download(uint32_t a) {
    download_adr = a;
    HANDLE worker = CreateThread(nullptr, 0, download_worker, nullptr, 0, nullptr);
    if (!worker) {
        MsgError("Fatal Error: Create Thread failed");
        exit(-1);
    }
    return worker;
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
