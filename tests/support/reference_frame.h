// The frame format written out plainly, independent of the library's
// encoder: a CRC-16/MODBUS computed bit by bit and stuffing done byte by
// byte. Tests check the encoder and the bus against it; the benchmarks use
// it for their expected frames and as the encoder's baseline.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace tivref {

using Bytes = std::vector<uint8_t>;

uint16_t crc16_bitwise(const uint8_t* data, size_t size);
inline uint16_t crc16_bitwise(const Bytes& data) { return crc16_bitwise(data.data(), data.size()); }

// Start byte, address, length, command and payload, without the CRC.
Bytes logical_frame(uint32_t adr, uint8_t cmd, const Bytes& payload);
// Escapes every start or escape byte after the first.
Bytes stuff(const Bytes& logical);

// The whole wire frame in one pass into `out`, which holds at least
// 2 * (len + 9) bytes; returns the bytes written.
size_t encode(uint32_t adr, uint8_t cmd, const uint8_t* payload, uint32_t len, uint8_t* out);
Bytes encode(uint32_t adr, uint8_t cmd, const Bytes& payload);

}  // namespace tivref
