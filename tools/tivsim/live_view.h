// The terminal view of a running bus: a header with the line to export, the
// devices (recently changed ones marked), and the latest frames, redrawn
// in place on the alternate screen.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "tools/common/terminal.h"

namespace tivsim_tool {

class LiveView {
public:
    LiveView(std::string export_line, std::string knobs);
    ~LiveView();  // back to the normal screen
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    void draw(const std::vector<tivsim::DeviceState>& devices, const std::vector<std::string>& log_lines,
              const std::string& counts);

private:
    void note_changes(const std::vector<tivsim::DeviceState>& devices, tivsim::Nanos now);

    std::string export_line_;
    std::string knobs_;
    tivtools::ColourSupport colour_;
    std::vector<unsigned> frames_seen_;       // per device, at the last draw
    std::vector<tivsim::Nanos> changed_at_;   // per device
};

}  // namespace tivsim_tool
