#include "tools/common/sim_layout.h"

#include <set>

namespace tivtools {

Parsed<size_t> add_sim_devices(tivsim::DeviceModel& model, const std::vector<SimDevicePlace>& layout) {
    std::set<uint32_t> seen;
    for (const SimDevicePlace& d : layout)
        if (!seen.insert(d.address).second)
            return Parsed<size_t>::fail("device address " + address_text(d.address) + " is given twice");
    for (const SimDevicePlace& d : layout) model.add_device(d.address, d.group);
    return {layout.size(), {}};
}

}  // namespace tivtools
