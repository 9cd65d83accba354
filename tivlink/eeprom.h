// The EEPROM image block and its download.
#pragma once

#include <stdint.h>

#include "platform/win32.h"

enum : uint32_t {
    E2_SIZE = 2048,
    E2_FIRST_WRITABLE = 16,  // the first 16 bytes are never written from an image
    E2_FILE_MIN = 5,
    E2_FILE_MAX = 2048,
    E2_ADDRESS_BYTES = 4,
};

extern uint32_t download_adr;

DWORD WINAPI download_worker(LPVOID argument);

// The loader's limits: from address 16 to the end of the EEPROM, the sum
// taken without wrap-around.
bool e2_block_in_range(uint32_t start, uint32_t length);

// Stops a running download as a host would (clearing the run flag) and
// returns once its worker has sent its closing reset; at once when none runs.
void download_stop_and_wait(void);

// The run flag and progress, shared whole with the host's thread.
inline int32_t e2_load(volatile int32_t* word) { return __atomic_load_n(word, __ATOMIC_SEQ_CST); }
inline void e2_store(volatile int32_t* word, int32_t value) {
    __atomic_store_n(word, value, __ATOMIC_SEQ_CST);
}
