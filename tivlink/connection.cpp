#include "diagnostics/diagnostics.h"
#include "tivlink.h"
#include "tivlink/connection.h"
#include "tivlink/frame.h"

SerialPortInfo* spi;
int32_t tiv_written;
// Read by the host while a worker may be counting, hence atomic.
static uint32_t failed_frames;

static int32_t frame_failed(void) {
    __atomic_add_fetch(&failed_frames, 1, __ATOMIC_RELAXED);
    return -1;
}

enum : DWORD { ALL_LINE_EVENTS = 0x01FF, DEFAULT_BAUD = 9600, CONNECTION_QUEUE = 1000 };

int32_t init_tiv3(int32_t comnr, int32_t baud) {
    if (baud <= 0) baud = DEFAULT_BAUD;
    TIV_ASSERT(comnr>=1 && comnr<=9);
    // One connection per process: a new one replaces the old, which must let
    // go of its port first in case it is the same one.
    SerialClose(spi);
    spi = SerialOpen(comnr);
    if (!spi) {
        MsgError("Can't open COM%d at %d Bd.", comnr, baud);
        return -1;
    }
    SerialSetBaudrate(spi, (DWORD)baud);
    SerialSetWriteTimeouts(spi, 0, 1000);
    SerialSetQueues(spi, CONNECTION_QUEUE, CONNECTION_QUEUE);
    // Before the reader exists: a later change would end its wait.
    SerialSetMask(spi, ALL_LINE_EVENTS);
    TIV_ASSERT(SerialStartCommThread(spi,CommReader,spi));
    SerialEscape(spi, SETDTR);
    SerialEscape(spi, SETRTS);
    return 0;
}

void exit_tiv3(void) {
    tiv_pause_run_end();
    tiv_pause(PAUSE_BEFORE_CLOSE);
    SerialClose(spi);
    spi = nullptr;
}

int32_t tiv_frame_send(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len) {
    tiv_pause_run_end();
    if (!spi) {
        MessageBeep(0xFFFFFFFF);
        return frame_failed();
    }
    frame_encode(adr, cmd, data, len);
    tiv_written = SerialWrite(spi, tiv_sendbuf, tiv_six);
    if (tiv_written != (int32_t)tiv_six) {
        MsgError("COM%d - Write Error!", spi->comnr);
        return frame_failed();
    }
    if (adr > 0xFFFF) tiv_pause(PAUSE_PHYSICAL_FRAME);
    return 0;
}

#ifndef _WIN32
uint32_t tiv_failed_frames(void) { return __atomic_load_n(&failed_frames, __ATOMIC_RELAXED); }
#endif
