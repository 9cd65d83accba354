#include "tools/common/sim_layout.h"

namespace tivtools {

Parsed<size_t> add_sim_devices(tivsim::DeviceModel& model, const std::vector<SimDevicePlace>& layout) {
    if (auto repeated = repeated_sim_device(layout)) return Parsed<size_t>::fail(*repeated);
    for (const SimDevicePlace& d : layout) model.add_device(d.address, d.group);
    return {layout.size(), {}};
}

}  // namespace tivtools
