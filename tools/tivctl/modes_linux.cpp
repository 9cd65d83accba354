#include "tools/tivctl/modes.h"

#include <cstdio>

#include "sim/com_env.h"
#include "tools/tivctl/bus_command.h"
#include "tools/tivctl/demo.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/gateway_command.h"
#include "tools/tivctl/ports_command.h"
#include "tools/tivctl/monitor_command.h"
#include "tools/common/sim_session.h"

namespace tivctl {

namespace {

using tivtools::SimSession;

// The bus exists before the library opens its port and is shown once the
// port is closed again.
int run_on_sim(const Request& r) {
    SimSession sim(r.sim_devices, r.port);
    return run_on_bus(r, [&sim, &r] {
        sim.settle();
        if (r.json) {
            sim.print_json(stdout, r.port);
            return;
        }
        sim.print_devices(stdout, true);
        sim.print_frames(stdout, true);
    });
}

}  // namespace

std::string unavailable_here(const Request&) { return {}; }

int run_request(const Request& request) {
    // The library reads the variable when it opens the port.
    if (request.mode == Mode::operation && !request.device.empty())
        tivsim::set_com_env(request.port, request.device);
    switch (request.mode) {
    case Mode::monitor: return run_monitor(request.monitor, request.port, request.baud);
    case Mode::demo: return run_demo(request);
    case Mode::ports: return run_ports(request.port_roots, request.json);
    case Mode::gateway: return run_gateway(request.gateway, request.control);
    case Mode::operation: return request.sim ? run_on_sim(request) : run_on_bus(request);
    }
    return kExitFailed;
}

}  // namespace tivctl
