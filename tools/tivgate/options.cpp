#include "tools/tivgate/options.h"

#include <CLI/CLI.hpp>

#include <cstdio>

#include "tools/common/number_parse.h"
#include "tools/tivgate/listen_address.h"

namespace tivgate {

namespace {

template <class T>
CLI::Validator check_with(tivtools::Parsed<T> (*parse)(std::string_view), const char* name) {
    return CLI::Validator([parse](std::string& text) { return parse(text).error; }, "", name);
}

}  // namespace

ParsedOptions parse_options(int argc, char** argv) {
    CLI::App app{"tivgate: DMX from OLA onto the tivlink bus"};
    Options o;
    std::string port = "1", baud = "9600";
    std::vector<std::string> sim_devices;
    std::string http;
    app.add_option("--patch", o.patch, "the patch file (TOML)")->required()->type_name("FILE");
    auto* port_option = app.add_option("-p,--port", port, "COM port number 1..9")
        ->type_name("N")->check(check_with(tivtools::parse_port, "N"));
    app.add_option("-b,--baud", baud, "baud rate dividing 115200 (default 9600)")
        ->type_name("B")->check(check_with(tivtools::parse_baud, "B"));
    app.add_option("--ola", o.ola, "olad's RPC address (default 127.0.0.1:9010)")->type_name("HOST:PORT");
    auto* device = app.add_option("--device", o.device, "serial device to open as COM<port> (a /dev/serial/by-id/ name survives replugging)")->type_name("PATH");
    auto* sim = app.add_flag("--sim", o.sim, "drive a simulated bus inside this process; print it at exit");
    app.add_option("--sim-device", sim_devices, "simulated device ADDR[:GROUP] (repeat; default: from the patch)")
        ->type_name("DEV")->check(check_with(tivtools::parse_sim_device, "DEV"))->needs(sim);
    app.add_flag("--stats", o.stats, "print counts and latency at exit");
    app.add_option("--control", o.control, "listen for identify, test and status at this Unix socket (tivctl --gateway PATH)")
        ->type_name("PATH");
    const std::string http_help =
        std::string("where the status page listens, over the patch's [http] (default ") + kDefaultHttpListen + "; \"\": off)";
    auto* http_option = app.add_option("--http", http, http_help)
        ->type_name("ADDR:PORT")->check(CLI::Validator([](std::string& text) {
            return text.empty() ? std::string() : parse_listen(text).error;
        }, "", "ADDR:PORT"));
    device->excludes(sim);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return {std::nullopt, status == 0 ? 0 : 2};
    }
    // Like tivctl, no port by default: COM1 is the console on many boards.
    if (port_option->count() == 0 && device->count() == 0 && !o.sim) {
        std::fprintf(stderr, "tivgate: no bus named: give --device PATH, --port N or --sim "
                             "(the service takes them from TIVGATE_OPTIONS in /etc/default/tivgate)\n");
        return {std::nullopt, 2};
    }
    o.port = (int)*tivtools::parse_port(port).value;
    o.baud = (int)*tivtools::parse_baud(baud).value;
    if (http_option->count()) o.http = http;
    for (const std::string& d : sim_devices) o.sim_devices.push_back(*tivtools::parse_sim_device(d).value);
    return {std::move(o), 0};
}

}  // namespace tivgate
