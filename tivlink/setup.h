// Setup sequences: begin, single EEPROM byte writes, reset, with fixed pauses.
#pragma once

#include <stdint.h>

enum : uint32_t {
    PAUSE_SERIAL_BEGIN = 200,
    PAUSE_SETUP_BEGIN = 100,
    PAUSE_EEPROM_BYTE = 50,
    PAUSE_AFTER_RESET = 100,
};

// EEPROM addresses the sequences write.
enum : uint16_t {
    E2_PHYSICAL_ADDRESS = 0,  // four bytes, big-endian
    E2_GROUP = 18,
    E2_FIRMWARE_RESET = 198,
};

// One frame each, then its pause; the frame's result is returned for the
// download, while the setup sequences always run to their end.
int32_t setup_begin(uint32_t a, uint32_t pause);
int32_t setup_write(uint32_t a, uint8_t command, uint16_t e2_address, uint8_t value);
int32_t setup_reset(uint32_t a);
