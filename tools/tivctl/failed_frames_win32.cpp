#include "tools/tivctl/failed_frames.h"

namespace tivctl {

std::optional<uint32_t> failed_frames() { return std::nullopt; }

const char* setup_failure_note() {
    return "tivctl.exe cannot tell whether the frames of this sequence went out: the library returns its usual "
           "result whatever they did. A failed frame shows its own message box, yet the exit status is 0 (and "
           "set-serial prints the address). The light commands report the result of their last frame and "
           "download the worker's exit code.";
}

}  // namespace tivctl
