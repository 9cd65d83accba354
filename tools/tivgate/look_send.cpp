#include "tools/tivgate/look_send.h"

#include <tivlink.h>

namespace tivgate {

// The light calls report only their last frame: a look whose first frames
// failed shows in the library's count of failed frames.
bool send_look(const Job& job) {
    const uint32_t failed_before = tiv_failed_frames();
    const int last = job.mode == FixtureMode::rgbw_fade ? fade_rgbx(job.address, job.look.colour, job.look.fade)
                                                        : set_rgbx(job.address, job.look.colour);
    return last == 0 && tiv_failed_frames() == failed_before;
}

}  // namespace tivgate
