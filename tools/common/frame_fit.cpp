#include "tools/common/frame_fit.h"

#include <vector>

#include "sim/crc16_modbus.h"
#include "sim/protocol.h"

namespace tivtools {

size_t frame_wire_size(uint32_t address, uint8_t command, std::span<const uint8_t> payload) {
    std::vector<uint8_t> logical = {tivsim::kFrameStart, (uint8_t)(address >> 16), (uint8_t)(address >> 8),
                                    (uint8_t)address, (uint8_t)(payload.size() >> 8), (uint8_t)payload.size(),
                                    command};
    logical.insert(logical.end(), payload.begin(), payload.end());
    const uint16_t crc = tivsim::crc16_modbus(logical);
    logical.push_back((uint8_t)(crc >> 8));
    logical.push_back((uint8_t)crc);

    size_t wire = 0;
    for (size_t i = 0; i < logical.size(); i++) {
        if (wire >= tivsim::kSendBufSize - 1) return 0;
        const uint8_t b = logical[i];
        const bool escaped = (i > 0 && b == tivsim::kFrameStart) || b == tivsim::kFrameEsc;
        wire += escaped ? 2 : 1;
    }
    return wire;
}

}  // namespace tivtools
