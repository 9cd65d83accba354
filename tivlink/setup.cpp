#include "tivlink/setup.h"

#include "diagnostics/diagnostics.h"
#include "tivlink.h"
#include "tivlink/connection.h"
#include "tivlink/frame.h"
#include "tivlink/random.h"

int32_t setup_begin(uint32_t a, uint32_t pause) {
    const uint8_t payload[1] = {0x00};
    return tiv_frame_send_then_pause(a, CMD_SETUP_BEGIN, payload, sizeof payload, pause);
}

int32_t setup_write(uint32_t a, uint8_t command, uint16_t e2_address, uint8_t value) {
    const uint8_t payload[3] = {(uint8_t)(e2_address / 256), (uint8_t)(e2_address % 256), value};
    return tiv_frame_send_then_pause(a, command, payload, sizeof payload, PAUSE_EEPROM_BYTE);
}

int32_t setup_reset(uint32_t a) {
    return tiv_frame_send_then_pause(a, CMD_RESET, nullptr, 0, PAUSE_AFTER_RESET);
}

int32_t set_serial(uint32_t a, int32_t nphys_adr) {
    if (nphys_adr == 0) nphys_adr = tiv_generate_physical_address();
    TIV_ASSERT(nphys_adr>65535 && nphys_adr<=0xFFFFFF);
    setup_begin(a, PAUSE_SERIAL_BEGIN);
    for (int i = 0; i < 4; i++)
        setup_write(a, CMD_SETUP_WRITE, (uint16_t)(E2_PHYSICAL_ADDRESS + i),
                    (uint8_t)((uint32_t)nphys_adr >> (24 - 8 * i)));
    setup_reset(a);
    return nphys_adr;
}

int32_t set_group(uint32_t a, int32_t grp_adr) {
    setup_begin(a, PAUSE_SETUP_BEGIN);
    TIV_ASSERT(grp_adr>0 && grp_adr<=255);
    setup_write(a, CMD_SETUP_WRITE, E2_GROUP, (uint8_t)grp_adr);
    // The devices answer to their new group once they have reset.
    setup_reset((uint32_t)grp_adr);
    return 0;
}

int32_t firmware_reset(uint32_t a) {
    setup_begin(a, PAUSE_SETUP_BEGIN);
    uint8_t first = (uint8_t)tiv_random();
    uint8_t second = (uint8_t)tiv_random();
    (void)second;  // drawn to keep the generator's sequence; one byte is written
    setup_write(a, CMD_SETUP_WRITE, E2_FIRMWARE_RESET, first);
    setup_reset(a);
    return 0;
}
