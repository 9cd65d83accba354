#include "tools/tivgate/look_send.h"

#include <tivlink.h>

namespace tivgate {

int send_look(const Job& job) {
    if (job.mode == FixtureMode::rgbw_fade) return fade_rgbx(job.address, job.look.colour, job.look.fade);
    return set_rgbx(job.address, job.look.colour);
}

}  // namespace tivgate
