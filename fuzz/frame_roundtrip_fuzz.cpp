// The library's encoder and the sim's decoder on arbitrary address, command
// and payload: decode(encode(x)) == x, 0xCA only where the frame begins, and
// the frame exactly as long as its stuffing says. Frames that would not fit
// the frame buffer are left out here (they stop the process; the unit tests
// cover that).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/crc16_modbus.h"
#include "sim/frame_decoder.h"
#include "tivlink/frame.h"

namespace {

uint32_t take32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }

// Wire length of the logical bytes when the encoder stuffs them, or 0 when a
// byte would start at offset SENDBUF - 1 or later (the buffer check).
size_t stuffed_length(const std::vector<uint8_t>& logical) {
    size_t at = 0;
    for (size_t i = 0; i < logical.size(); i++) {
        if (at >= SENDBUF - 1) return 0;
        bool escaped = logical[i] == FRAME_ESC || (logical[i] == FRAME_START && i != 0);
        at += escaped ? 2 : 1;
    }
    return at;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_abort_on_boxes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    uint32_t address = take32(data);
    int32_t command = (int32_t)take32(data + 4);
    std::vector<uint8_t> payload(data + 8, data + size);
    uint32_t n = (uint32_t)payload.size();

    // The frame as it must be, before stuffing, with an independent CRC.
    std::vector<uint8_t> logical = {FRAME_START, (uint8_t)(address >> 16), (uint8_t)(address >> 8),
                                    (uint8_t)address, (uint8_t)(n >> 8), (uint8_t)n, (uint8_t)command};
    logical.insert(logical.end(), payload.begin(), payload.end());
    uint16_t crc = tivsim::crc16_modbus(logical);
    logical.push_back((uint8_t)(crc >> 8));
    logical.push_back((uint8_t)crc);
    size_t expected_length = stuffed_length(logical);
    if (expected_length == 0) return 0;

    frame_encode(address, command, payload.empty() ? nullptr : payload.data(), n);
    std::span<const uint8_t> wire(tiv_sendbuf, tiv_six);
    FUZZ_CHECK(tiv_six == expected_length);
    FUZZ_CHECK(wire[0] == FRAME_START);
    FUZZ_CHECK(std::find(wire.begin() + 1, wire.end(), FRAME_START) == wire.end());

    std::vector<tivsim::DecodedFrame> items = tivsim::decode_all(wire);
    FUZZ_CHECK(items.size() == 1);
    const tivsim::DecodedFrame& frame = items[0];
    FUZZ_CHECK(frame.kind == tivsim::FrameKind::ok);
    FUZZ_CHECK(frame.address == (address & 0xFFFFFF));
    FUZZ_CHECK(frame.command == (uint8_t)command);
    FUZZ_CHECK(frame.length == n);
    FUZZ_CHECK(frame.payload == payload);
    FUZZ_CHECK(frame.crc_received == crc);
    FUZZ_CHECK(frame.logical == logical);
    FUZZ_CHECK(frame.escapes == expected_length - logical.size());
    return 0;
}
