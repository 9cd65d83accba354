// `tivctl ports`: the serial ports and the COM number each answers to, as
// a table or as JSON.
#pragma once

#include <string>

namespace tivctl {

int run_ports(const std::string& sysfs_root, bool json);

}  // namespace tivctl
