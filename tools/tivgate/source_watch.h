// Watches the DMX source for silence: says when it falls silent and when it
// comes back, and sets the patch's loss look meanwhile. Run by the bus thread.
#pragma once

#include "tools/tivgate/scheduler.h"

namespace tivgate {

class SourceWatch {
public:
    explicit SourceWatch(Scheduler& scheduler) : scheduler_(scheduler) {}

    void check(Clock::time_point now);
    // When check() has something new to say at the latest.
    Clock::time_point next(Clock::time_point now) const;

private:
    Scheduler& scheduler_;
    bool lost_ = false;
    std::shared_ptr<const Patch> imposed_for_;  // the patch the loss look was set under
};

}  // namespace tivgate
