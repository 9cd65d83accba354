#include "sim/crc16_modbus.h"

namespace tivsim {

uint16_t crc16_modbus_update(uint16_t crc, uint8_t byte) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
    return crc;
}

uint16_t crc16_modbus(std::span<const uint8_t> bytes) {
    uint16_t crc = kCrcInit;
    for (uint8_t b : bytes) crc = crc16_modbus_update(crc, b);
    return crc;
}

}  // namespace tivsim
