// Wire frames: start byte, 24-bit address, 16-bit length, command, payload
// and CRC-16/MODBUS (high byte first), with every byte after the start byte
// stuffed so that 0xCA only ever begins a frame.
#pragma once

#include <stdint.h>

enum : uint32_t { SENDBUF = 1000 };

enum : uint8_t {
    FRAME_START = 0xCA,
    FRAME_ESC = 0xCB,
};

// Command codes.
enum : uint8_t {
    CMD_SETUP_BEGIN = 0xFD,
    CMD_SETUP_WRITE = 0xFB,
    CMD_IMAGE_WRITE = 0x7F,
    CMD_RESET = 0xFE,
    CMD_LIGHT = 0x7E,
    CMD_XD_PROG = 0x7D,
};

// The single frame being built; one sender at a time, no lock.
extern uint8_t tiv_sendbuf[SENDBUF];
extern uint32_t tiv_six;
extern int32_t tiv_crc;

// One CRC step; a non-zero restart first resets the register.
int32_t crc16_next(uint8_t byte, int restart);

// Appends one logical byte, stuffed; stops the process when the buffer is full.
void frame_put(uint8_t byte);

// Builds the whole frame into tiv_sendbuf[0..tiv_six).
void frame_encode(uint32_t adr, int32_t cmd, const uint8_t* data, uint32_t len);
