#include "diagnostics/diagnostics.h"
#include "tivlink.h"
#include "tivlink/connection.h"
#include "tivlink/eeprom.h"
#include "tivlink/frame.h"
#include "tivlink/open_failure.h"

SerialPortInfo* spi;
int32_t tiv_written;
// Read by the host while a worker may be counting, hence atomic.
static uint32_t failed_frames;
// Encoding and writing one frame is one step: the frame buffer, its length
// and tiv_written exist once, and a host that sends while a download runs
// must not mix its frame into the worker's. Pauses stay outside.
static SRWLOCK frame_lock = SRWLOCK_INIT;

static int32_t frame_failed(void) {
    __atomic_add_fetch(&failed_frames, 1, __ATOMIC_RELAXED);
    return -1;
}

enum : DWORD { ALL_LINE_EVENTS = 0x01FF, DEFAULT_BAUD = 9600, CONNECTION_QUEUE = 1000 };

int32_t init_tiv3(int32_t comnr, int32_t baud) {
    if (baud <= 0) baud = DEFAULT_BAUD;
    TIV_ASSERT(comnr>=1 && comnr<=9);
    // A running download writes through the port record about to be freed.
    download_stop_and_wait();
    // One connection per process: a new one replaces the old, which must let
    // go of its port first in case it is the same one.
    SerialClose(spi);
    spi = SerialOpen(comnr);
    if (!spi) {
        MsgError("Can't open COM%d at %d Bd.", comnr, baud);
        explain_port_open_failure(comnr);
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
    download_stop_and_wait();
    tiv_pause_run_end();
    tiv_pause(PAUSE_BEFORE_CLOSE);
    SerialClose(spi);
    spi = nullptr;
}

// Encodes and writes one frame: 0 when it went out whole, else -1, counted,
// with the beep (no connection) or the box (a write error).
static int32_t frame_write(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len) {
    TIV_ASSERT(data!=nullptr || len==0);
    tiv_pause_run_end();
    if (!spi) {
        MessageBeep(0xFFFFFFFF);
        return frame_failed();
    }
    AcquireSRWLockExclusive(&frame_lock);
    frame_encode(adr, cmd, data, len);
    tiv_written = SerialWrite(spi, tiv_sendbuf, tiv_six);
    bool whole = tiv_written == (int32_t)tiv_six;
    ReleaseSRWLockExclusive(&frame_lock);
    // The box waits for the user: never while holding the other sender up.
    if (!whole) {
        MsgError("COM%d - Write Error!", spi->comnr);
        return frame_failed();
    }
    return 0;
}

// A frame that went out to a physical address needs its own pause; the
// sender's pause is kept whether the frame went out or not.
static int32_t pause_after(int32_t result, uint32_t adr, uint32_t pause) {
    if (result == 0 && adr > 0xFFFF) pause += PAUSE_PHYSICAL_FRAME;
    if (pause) tiv_pause(pause);
    return result;
}

int32_t tiv_frame_send_then_pause(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len,
                                  uint32_t pause) {
    return pause_after(frame_write(adr, cmd, data, len), adr, pause);
}

int32_t tiv_frame_send(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len) {
    return pause_after(frame_write(adr, cmd, data, len), adr, 0);
}

#ifndef _WIN32
uint32_t tiv_failed_frames(void) { return __atomic_load_n(&failed_frames, __ATOMIC_RELAXED); }
#endif
