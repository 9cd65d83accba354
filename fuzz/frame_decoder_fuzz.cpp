// The sim's frame decoder on arbitrary wire bytes: fed at once or byte by
// byte it gives the same items; the items account for every byte exactly
// once, in order; and every good frame is exactly what the library's encoder
// makes of its address, command and payload.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/frame_decoder.h"
#include "tivlink/frame.h"

using tivsim::DecodedFrame;
using tivsim::FrameKind;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_abort_on_boxes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    std::vector<DecodedFrame> whole = tivsim::decode_all(bytes);

    tivsim::FrameDecoder decoder;
    std::vector<DecodedFrame> single;
    for (size_t i = 0; i < size; i++) decoder.feed(bytes.subspan(i, 1), tivsim::Nanos{0}, single);
    decoder.finish(single);
    FUZZ_CHECK(single == whole);

    uint64_t offset = 0;
    for (const DecodedFrame& item : whole) {
        FUZZ_CHECK(item.offset == offset);
        FUZZ_CHECK(!item.wire.empty());
        FUZZ_CHECK(std::equal(item.wire.begin(), item.wire.end(), data + offset));
        offset += item.wire.size();
        if (item.kind == FrameKind::noise) continue;
        FUZZ_CHECK(item.wire[0] == FRAME_START);
        FUZZ_CHECK(item.wire.size() <= SENDBUF);
        if (item.kind != FrameKind::ok) continue;
        FUZZ_CHECK(item.length == item.payload.size());
        FUZZ_CHECK(item.crc_received == item.crc_computed);
        frame_encode(item.address, item.command, item.payload.data(), (uint32_t)item.payload.size());
        FUZZ_CHECK(std::vector<uint8_t>(tiv_sendbuf, tiv_sendbuf + tiv_six) == item.wire);
    }
    FUZZ_CHECK(offset == size);
    return 0;
}
