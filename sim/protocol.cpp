#include "sim/protocol.h"

namespace tivsim {

const char* command_name(uint8_t command) {
    switch (command) {
    case kSetupBegin: return "SETUP_BEGIN";
    case kSetupWrite: return "SETUP_WRITE";
    case kImageWrite: return "IMAGE_WRITE";
    case kReset: return "RESET";
    case kLight: return "LIGHT";
    case kXdProg: return "XD_PROG";
    }
    return nullptr;
}

}  // namespace tivsim
