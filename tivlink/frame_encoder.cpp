#include "diagnostics/diagnostics.h"
#include "tivlink/frame.h"

uint8_t tiv_sendbuf[SENDBUF];
uint32_t tiv_six;
int32_t tiv_crc;

void frame_put(uint8_t byte) {
    // Checked before every byte, so even an escape pair stored at the last
    // free place stays inside the buffer.
    TIV_ASSERT(tiv_six<SENDBUF-1);
    tiv_crc = crc16_next(byte, tiv_six == 0);
    if (byte == FRAME_START && tiv_six != 0) {
        tiv_sendbuf[tiv_six++] = FRAME_ESC;
        tiv_sendbuf[tiv_six++] = 0x00;
    } else if (byte == FRAME_ESC) {
        tiv_sendbuf[tiv_six++] = FRAME_ESC;
        tiv_sendbuf[tiv_six++] = 0x01;
    } else {
        tiv_sendbuf[tiv_six++] = byte;
    }
}

void frame_encode(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len) {
    tiv_six = 0;
    frame_put(FRAME_START);
    frame_put((uint8_t)(adr >> 16));
    frame_put((uint8_t)(adr >> 8));
    frame_put((uint8_t)adr);
    frame_put((uint8_t)(len >> 8));
    frame_put((uint8_t)len);
    frame_put((uint8_t)cmd);
    for (uint32_t i = 0; i < len; i++) frame_put(data[i]);
    int32_t crc = tiv_crc;
    frame_put((uint8_t)(crc >> 8));
    frame_put((uint8_t)crc);
}
