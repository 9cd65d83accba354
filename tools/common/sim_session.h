// --sim (tivctl, tivgate): a simulated bus in this process, bound to the COM port the
// library will open, and reports of what a run did to it.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "sim/sim_bus.h"
#include "tools/common/sim_layout.h"

namespace tivtools {

class SimSession {
public:
    // Creates the bus with its devices and points TIVLINK_COM<com> at it.
    // Call before the library opens the port (it reads the environment).
    SimSession(const std::vector<tivtools::SimDevicePlace>& layout, int com);

    tivsim::SimBus& bus() { return *bus_; }

    // Waits until the line has been quiet a moment, so that every frame
    // sent so far is decoded and applied.
    void settle();

    // Starts a chapter: the prints below show what changed since.
    void mark();

    // The devices, all or only the changed ones; changed ones marked '*'.
    // Changed since the mark, or since `since` when given.
    void print_devices(FILE* out, bool all, const std::vector<tivsim::DeviceState>* since = nullptr) const;

    // The whole bus as `tivsim --json` writes it, on one line.
    void print_json(FILE* out, int com) const;

    // How many frames came since the mark, and each with its gap when `lines`.
    void print_frames(FILE* out, bool lines) const;

private:
    std::unique_ptr<tivsim::SimBus> bus_;
    std::vector<tivsim::DeviceState> before_;
    size_t log_mark_ = 0;
};

}  // namespace tivtools
