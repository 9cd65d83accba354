#include "tests/support/reference_frame.h"

namespace tivref {

namespace {

constexpr uint8_t kStart = 0xCA;
constexpr uint8_t kEscape = 0xCB;

uint16_t crc_step(uint16_t crc, uint8_t byte) {
    crc ^= byte;
    for (int i = 0; i < 8; i++) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    return crc;
}

size_t put_stuffed(uint8_t byte, bool first, uint8_t* out) {
    if (!first && (byte == kStart || byte == kEscape)) {
        out[0] = kEscape;
        out[1] = byte == kStart ? 0x00 : 0x01;
        return 2;
    }
    out[0] = byte;
    return 1;
}

}  // namespace

uint16_t crc16_bitwise(const uint8_t* data, size_t size) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < size; i++) crc = crc_step(crc, data[i]);
    return crc;
}

Bytes logical_frame(uint32_t adr, uint8_t cmd, const Bytes& payload) {
    Bytes l(7 + payload.size());
    const uint8_t head[7] = {kStart, (uint8_t)(adr >> 16), (uint8_t)(adr >> 8), (uint8_t)adr,
                             (uint8_t)(payload.size() >> 8), (uint8_t)payload.size(), cmd};
    for (size_t i = 0; i < sizeof head; i++) l[i] = head[i];
    for (size_t i = 0; i < payload.size(); i++) l[7 + i] = payload[i];
    return l;
}

Bytes stuff(const Bytes& logical) {
    Bytes wire(2 * logical.size());
    size_t n = 0;
    for (size_t i = 0; i < logical.size(); i++) n += put_stuffed(logical[i], i == 0, &wire[n]);
    wire.resize(n);
    return wire;
}

size_t encode(uint32_t adr, uint8_t cmd, const uint8_t* payload, uint32_t len, uint8_t* out) {
    const uint8_t head[7] = {kStart, (uint8_t)(adr >> 16), (uint8_t)(adr >> 8), (uint8_t)adr,
                             (uint8_t)(len >> 8), (uint8_t)len, cmd};
    uint16_t crc = 0xFFFF;
    size_t n = 0;
    for (size_t i = 0; i < sizeof head; i++) {
        crc = crc_step(crc, head[i]);
        n += put_stuffed(head[i], i == 0, out + n);
    }
    for (uint32_t i = 0; i < len; i++) {
        crc = crc_step(crc, payload[i]);
        n += put_stuffed(payload[i], false, out + n);
    }
    n += put_stuffed((uint8_t)(crc >> 8), false, out + n);
    n += put_stuffed((uint8_t)crc, false, out + n);
    return n;
}

Bytes encode(uint32_t adr, uint8_t cmd, const Bytes& payload) {
    Bytes wire(2 * (payload.size() + 9));
    wire.resize(encode(adr, cmd, payload.data(), (uint32_t)payload.size(), wire.data()));
    return wire;
}

}  // namespace tivref
