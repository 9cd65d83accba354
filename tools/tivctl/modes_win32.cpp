#include "tools/tivctl/modes.h"

#include "tools/tivctl/bus_command.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/ports_command.h"

namespace tivctl {

std::string unavailable_here(const Request& request) {
    if (request.sim || !request.sim_devices.empty()) return "--sim needs the Linux build";
    if (request.mode == Mode::monitor) return "monitor needs the Linux build";
    if (request.mode == Mode::demo) return "demo needs the Linux build";
    if (request.mode == Mode::gateway) return "identify, test, release and status need the Linux build (tivgate runs there)";
    if (!request.device.empty()) return "on Windows choose the port with --port N (COM1..COM9)";
    return {};
}

int run_request(const Request& request) {
    if (request.mode == Mode::ports) return run_ports(request.port_roots, request.json);
    // The command line has refused the rest already.
    return request.mode == Mode::operation && !request.sim ? run_on_bus(request) : kExitUsage;
}

}  // namespace tivctl
