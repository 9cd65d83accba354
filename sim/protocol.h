// The wire protocol as the simulated bus reads it. Written down here on its
// own, without the library's headers, so that the sim checks the library
// instead of sharing its mistakes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tivsim {

inline constexpr uint8_t kFrameStart = 0xCA;
inline constexpr uint8_t kFrameEsc = 0xCB;
inline constexpr uint8_t kEscStart = 0x00;  // CB 00 stands for CA
inline constexpr uint8_t kEscEsc = 0x01;    // CB 01 stands for CB

// Logical layout: start, 3 address bytes, 2 length bytes, command, payload, 2 CRC bytes.
inline constexpr size_t kHeaderSize = 7;
inline constexpr size_t kCrcSize = 2;

// The library's frame buffer: every logical byte must begin before wire
// offset 999, so a frame takes at most 1000 wire bytes and at most 990
// payload bytes.
inline constexpr size_t kSendBufSize = 1000;
inline constexpr size_t kMaxPayload = kSendBufSize - 1 - kHeaderSize - kCrcSize;

inline constexpr uint32_t kGroupAddressMax = 0xFFFF;
inline constexpr uint32_t kPhysicalAddressMin = 0x10000;
inline constexpr uint32_t kPhysicalAddressMax = 0xFFFFFF;

enum Command : uint8_t {
    kSetupBegin = 0xFD,
    kSetupWrite = 0xFB,
    kImageWrite = 0x7F,
    kReset = 0xFE,
    kLight = 0x7E,
    kXdProg = 0x7D,
};

// "SETUP_BEGIN", ..., or nullptr for a code outside the command set.
const char* command_name(uint8_t command);

}  // namespace tivsim
