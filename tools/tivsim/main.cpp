// tivsim: the simulated bus as a program of its own. Any host, tivctl in
// another shell included, reaches it through the TIVLINK_COM<n> it prints.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include "include/tivlink.h"
#include "tools/common/number_parse.h"
#include "tools/common/sim_layout.h"
#include "tools/tivsim/sim_runner.h"

namespace {

using tivtools::Parsed;

template <class T>
CLI::Validator check_with(Parsed<T> (*parse)(std::string_view), const char* name) {
    return CLI::Validator([parse](std::string& text) { return parse(text).error; }, "", name);
}

Parsed<uint32_t> parse_count(std::string_view text) {
    auto n = tivtools::parse_unsigned(text, tivtools::kMaxSimDevices);
    if (!n) return Parsed<uint32_t>::fail("device count " + n.error);
    return {(uint32_t)*n.value, {}};
}

Parsed<uint32_t> parse_seed(std::string_view text) {
    auto n = tivtools::parse_unsigned(text, 0xFFFFFFFFu);
    if (!n) return Parsed<uint32_t>::fail("seed " + n.error);
    return {(uint32_t)*n.value, {}};
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "tivsim: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    tivsim_tool::SimOptions o;
    std::string com = "1", count = std::to_string(tivtools::kDefaultSimDevices);
    std::string noise = "0", seed = "1", frames = "0", seconds = "0";
    std::vector<std::string> devices;

    CLI::App app{"tivsim: a simulated bus of four-channel colour devices on a pseudo-terminal", "tivsim"};
    app.add_option("--com", com, "COM number whose TIVLINK_COM<n> line to print (1..9; default 1)")
        ->type_name("N")
        ->check(check_with(tivtools::parse_port, "N"));
    app.add_option("-n,--devices", count,
                   "number of devices at 0x010001, 0x010002, ... in groups 1,1,2,2,... (default " + count + ")")
        ->type_name("N")
        ->check(check_with(parse_count, "N"));
    app.add_option("--device", devices, "a device ADDR[:GROUP] (repeat; replaces --devices)")
        ->type_name("ADDR[:GROUP]")
        ->check(check_with(tivtools::parse_sim_device, "DEV"));
    app.add_flag("--stall", o.stall, "never read the line: the host's writes back up and time out");
    app.add_flag("--echo", o.echo, "send every byte received back to the host");
    app.add_option("--noise", noise, "send random bytes to the host at this many bytes per second (default 0)")
        ->type_name("RATE")
        ->check(check_with(tivtools::parse_byte_rate, "RATE"));
    app.add_option("--seed", seed, "seed of the noise (default 1)")->type_name("N")->check(check_with(parse_seed, "N"));
    app.add_option("--capture", o.capture, "write the raw bytes both ways to this capture file (default none)")
        ->type_name("FILE");
    app.add_option("--frames", frames, "exit after this many frames (default 0: no limit)")
        ->type_name("N")
        ->check(check_with(tivtools::parse_frame_limit, "N"));
    app.add_option("--seconds", seconds, "exit after this many seconds (default 0: no limit)")
        ->type_name("SECONDS")
        ->check(check_with(tivtools::parse_seconds, "SECONDS"));
    app.add_option("--json", o.json, "write the final state as JSON to FILE ('-': standard output; default none)")
        ->type_name("FILE");
    app.add_flag("-q,--quiet", o.quiet, "print only the TIVLINK_COM line (and --json -)");
    app.add_flag("--plain", o.plain, "plain log lines even on a terminal");
    app.footer("Ctrl-C, SIGTERM or SIGHUP ends it cleanly, with the final state. "
               "SIGUSR1 power-cycles every device: its outputs go dark.");
    app.set_version_flag("--version", "tivsim " TIVLINK_VERSION_STRING);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return usage_error(e.what());
    }
    o.com = (int)*tivtools::parse_port(com).value;
    o.noise_rate = *tivtools::parse_byte_rate(noise).value;
    o.noise_seed = *parse_seed(seed).value;
    o.frames = *tivtools::parse_frame_limit(frames).value;
    o.seconds = *tivtools::parse_seconds(seconds).value;
    for (const std::string& d : devices) o.devices.push_back(*tivtools::parse_sim_device(d).value);
    if (o.devices.empty()) o.devices = tivtools::default_sim_layout(*parse_count(count).value);
    if (auto repeated = tivtools::repeated_sim_device(o.devices)) return usage_error(*repeated);
    try {
        return tivsim_tool::run_sim(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tivsim: %s\n", e.what());
        return 1;
    }
}
