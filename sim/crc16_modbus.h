// CRC-16/MODBUS computed bit by bit, kept apart from the library's table
// version so that the decoder checks the encoder rather than repeating it.
#pragma once

#include <cstdint>
#include <span>

namespace tivsim {

inline constexpr uint16_t kCrcInit = 0xFFFF;

// One byte into the register (reflected polynomial 0xA001, no final xor).
uint16_t crc16_modbus_update(uint16_t crc, uint8_t byte);

// CRC of a whole block, starting from kCrcInit.
uint16_t crc16_modbus(std::span<const uint8_t> bytes);

}  // namespace tivsim
