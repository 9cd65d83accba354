// `tivctl ports`: the serial ports and the COM number each answers to, as
// a table or as JSON.
#pragma once

#include "tools/tivctl/port_list.h"

namespace tivctl {

int run_ports(const PortListRoots& roots, bool json);

}  // namespace tivctl
