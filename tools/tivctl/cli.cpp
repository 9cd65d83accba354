#include "tools/tivctl/cli.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <map>

#include "sim/protocol.h"
#include "tivlink.h"
#include "tools/common/frame_fit.h"
#include "tools/common/number_parse.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/failed_frames.h"
#include "tools/tivctl/modes.h"

namespace tivctl {

namespace {

using tivtools::Parsed;

// A command by name ("LIGHT", "cmd_light") or by number.
Parsed<uint32_t> parse_command(std::string_view text) {
    std::string name(text);
    for (char& c : name) c = (char)std::toupper((unsigned char)c);
    if (name.rfind("CMD_", 0) == 0) name.erase(0, 4);
    for (unsigned code = 0; code < 256; code++) {
        const char* known = tivsim::command_name((uint8_t)code);
        if (known && name == known) return {code, {}};
    }
    auto n = tivtools::parse_byte(text);
    if (!n) return Parsed<uint32_t>::fail("command '" + std::string(text) + "' is neither a command name nor 0..255");
    return n;
}

// The arguments as typed; converted once CLI11 has checked them.
struct ArgText {
    std::string port = "1", baud = "9600", address, colour, value, command, file, progress_interval = "1";
    std::vector<std::string> payload, sim_devices;
    std::string demo_image_bytes = "12";
    std::string monitor_frames = "0", monitor_seconds = "0";
    std::string target, group, override_seconds;  // identify, test
};

// Positionals name themselves; their type adds nothing to the help.
CLI::Option* plain(CLI::Option* o) { return o->type_name(""); }

template <class T>
CLI::Validator check_with(Parsed<T> (*parse)(std::string_view), const char* name) {
    return CLI::Validator([parse](std::string& text) { return parse(text).error; }, "", name);
}

Parsed<uint32_t> parse_image_bytes(std::string_view text) {
    auto n = tivtools::parse_unsigned(text, 2032);
    if (!n || *n.value == 0) return Parsed<uint32_t>::fail("image size '" + std::string(text) + "' is outside 1..2032");
    return {(uint32_t)*n.value, {}};
}

void add_address(CLI::App* sub, ArgText& t, const char* what = "device or group address (0..0xFFFFFF)") {
    plain(sub->add_option("ADDR", t.address, what))->required()->check(check_with(tivtools::parse_address, "ADDR"));
}

void add_colour(CLI::App* sub, ArgText& t) {
    plain(sub->add_option("COLOUR", t.colour, "colour word: 0x11223344, #RRGGBBWW, #RRGGBB or decimal"))
        ->required()
        ->check(check_with(tivtools::parse_colour, "COLOUR"));
}

struct Subcommands {
    std::map<CLI::App*, OpKind> operations;
    std::map<CLI::App*, tivtools::ControlVerb> gateway;
    CLI::App* monitor = nullptr;
    CLI::App* demo = nullptr;
    CLI::App* ports = nullptr;
};

void add_operations(CLI::App& app, ArgText& t, Subcommands& subs) {
    auto op = [&](const char* name, const char* help, OpKind kind) {
        CLI::App* sub = app.add_subcommand(name, help);
        subs.operations[sub] = kind;
        return sub;
    };
    CLI::App* s = op("set-rgbx", "set the four channels of a device or group", OpKind::set_rgbx);
    add_address(s, t);
    add_colour(s, t);
    s = op("fade-rgbx", "fade a device or group to a colour", OpKind::fade_rgbx);
    add_address(s, t);
    add_colour(s, t);
    plain(s->add_option("VALUE", t.value, "fade parameter 0..255"))->required()->check(check_with(tivtools::parse_byte, "VALUE"));
    s = op("reset", "send a reset", OpKind::reset);
    add_address(s, t);
    s = op("prog", "send program NR (0..7 or 9)", OpKind::prog);
    add_address(s, t);
    plain(s->add_option("NR", t.value, "program number 0..7 or 9"))->required()->check(check_with(tivtools::parse_program, "NR"));
    s = op("set-serial", "give the device at ADDR a physical address", OpKind::set_serial);
    add_address(s, t, "the device's current address, or a group");
    plain(s->add_option("NEW", t.value, "new physical address 0x10000..0xFFFFFF, or 'random'"))
        ->required()
        ->check(check_with(tivtools::parse_physical_address, "NEW"));
    s = op("set-group", "put the device(s) at ADDR into GROUP", OpKind::set_group);
    add_address(s, t);
    plain(s->add_option("GROUP", t.value, "group 1..255"))->required()->check(check_with(tivtools::parse_group, "GROUP"));
    s = op("firmware-reset", "run the firmware-reset sequence", OpKind::firmware_reset);
    add_address(s, t);
    for (CLI::App* setup : {app.get_subcommand("set-serial"), app.get_subcommand("set-group"),
                            app.get_subcommand("firmware-reset")})
        if (*setup_failure_note()) setup->footer(setup_failure_note());
    s = op("download", "write an EEPROM image file to a device, with progress", OpKind::download);
    add_address(s, t);
    plain(s->add_option("FILE", t.file, "image file: image bytes, then the 4-byte big-endian start address"))
        ->required();
    s->add_option("--interval", t.progress_interval, "seconds between progress lines when not on a terminal")
        ->type_name("SECONDS")
        ->check(check_with(tivtools::parse_seconds, "SECONDS"));
    s = op("send", "send one raw frame", OpKind::send);
    add_address(s, t);
    plain(s->add_option("CMD", t.command, "command: a name (below) or 0..255"))
        ->required()
        ->check(check_with(parse_command, "CMD"));
    std::string names;
    for (unsigned code = 0; code < 256; code++)
        if (const char* name = tivsim::command_name((uint8_t)code))
            names += (names.empty() ? "" : ", ") + std::string(name) + " (" + std::to_string(code) + ")";
    s->footer("Command names: " + names + ".");
    plain(s->add_option("HEX", t.payload, "payload bytes in hex: 12 01, 1201 or 12:01"))
        ->check(check_with(tivtools::parse_hex_bytes, "HEX"));
}

void add_monitor(CLI::App& app, ArgText& t, Request& r, Subcommands& subs) {
    CLI::App* m = app.add_subcommand("monitor", "decode the bytes on a line into timestamped frames");
    subs.monitor = m;
    auto* device = m->add_option("--device", r.monitor.device, "listen on this serial device (at --baud)")->type_name("PATH");
    auto* pty = m->add_flag("--pty", r.monitor.pty, "create a pseudo-terminal and print TIVLINK_COM<port>=... for a host");
    auto* read = m->add_option("--read", r.monitor.read, "decode a capture file")->type_name("FILE");
    device->excludes(pty)->excludes(read);
    pty->excludes(read);
    m->add_option("--capture", r.monitor.capture, "also write the raw bytes to this capture file")
        ->type_name("FILE")
        ->excludes(read);
    m->add_option("--frames", t.monitor_frames, "stop after this many frames")
        ->type_name("N")
        ->check(check_with(tivtools::parse_frame_limit, "N"))
        ->excludes(read);
    m->add_option("--seconds", t.monitor_seconds, "stop after this many seconds")
        ->type_name("SECONDS")
        ->check(check_with(tivtools::parse_seconds, "SECONDS"))
        ->excludes(read);
    m->footer("Exactly one of --device, --pty, --read. Ctrl-C ends listening.");
}

void add_demo(CLI::App& app, ArgText& t, Subcommands& subs) {
    subs.demo = app.add_subcommand("demo", "scripted run on a simulated bus that uses every operation");
    subs.demo->add_option("--image-bytes", t.demo_image_bytes, "size of the EEPROM image it downloads (1..2032)")
        ->check(check_with(parse_image_bytes, "N"));
}

void add_ports(CLI::App& app, Request& r, Subcommands& subs) {
    subs.ports = app.add_subcommand("ports", "list the serial ports and the COM number each answers to");
    subs.ports->add_option("--sysfs", r.port_roots.sysfs, "")->group("");
    subs.ports->add_option("--by-id", r.port_roots.by_id, "")->group("");
}

Parsed<uint32_t> parse_override_seconds(std::string_view text) {
    auto n = tivtools::parse_unsigned(text, tivtools::kOverrideSecondsMax);
    if (!n || *n.value == 0)
        return Parsed<uint32_t>::fail("seconds '" + std::string(text) + "' must be a whole number 1.." +
                                      std::to_string(tivtools::kOverrideSecondsMax));
    return {(uint32_t)*n.value, {}};
}

Parsed<uint32_t> parse_test_target(std::string_view text) {
    if (text == "chase") return {0, {}};
    return tivtools::parse_colour(text);
}

// Sub-commands that ask a running tivgate through its control socket.
void add_gateway(CLI::App& app, ArgText& t, Subcommands& subs) {
    using tivtools::ControlVerb;
    auto seconds = [&](CLI::App* sub) {
        sub->add_option("--seconds", t.override_seconds, "how long, 1..3600 (default 10); it ends by itself")
            ->type_name("N")
            ->check(check_with(parse_override_seconds, "N"));
    };
    CLI::App* s = app.add_subcommand("identify", "make a fixture of a running tivgate blink white at 1 Hz");
    subs.gateway[s] = ControlVerb::identify;
    auto* address = plain(s->add_option("ADDR", t.target, "a patched device or group"))
                        ->check(check_with(tivtools::parse_address, "ADDR"));
    auto* group = s->add_option("--group", t.group, "each member the patch declares for GROUP in turn, then the group")
                      ->type_name("G")
                      ->check(check_with(tivtools::parse_group, "G"));
    address->excludes(group);
    seconds(s);
    s->footer("Give ADDR or --group G. With --group, each member and then the group blink for the seconds each.");
    s = app.add_subcommand("test", "show a colour on every fixture of a running tivgate, or chase through them");
    subs.gateway[s] = ControlVerb::test;
    plain(s->add_option("COLOUR", t.target, "a colour (#RRGGBBWW, 0x...), or 'chase': one fixture at a time"))
        ->required()
        ->check(check_with(parse_test_target, "COLOUR"));
    seconds(s);
    subs.gateway[app.add_subcommand("release", "end a running tivgate's identify or test now")] = ControlVerb::release;
    subs.gateway[app.add_subcommand("status", "print a running tivgate's status as JSON")] = ControlVerb::status;
}

// What a gateway sub-command asks, as the control socket takes it.
tivtools::ControlCommand control_command(tivtools::ControlVerb verb, const ArgText& t) {
    using tivtools::ControlVerb;
    tivtools::ControlCommand c;
    c.verb = verb;
    if (!t.group.empty()) c.verb = ControlVerb::identify_group, c.target = *tivtools::parse_group(t.group).value;
    else if (verb == ControlVerb::test && t.target == "chase") c.verb = ControlVerb::chase;
    else if (verb == ControlVerb::test) c.target = *tivtools::parse_colour(t.target).value;
    else if (!t.target.empty()) c.target = *tivtools::parse_address(t.target).value;
    if (!t.override_seconds.empty()) c.seconds = *parse_override_seconds(t.override_seconds).value;
    return c;
}

void add_globals(CLI::App& app, ArgText& t, Request& r) {
    app.add_option("-p,--port", t.port, "COM port number 1..9 (Linux: device from TIVLINK_COM<n>, else /dev/ttyS<n-1>)")
        ->type_name("N")
        ->check(check_with(tivtools::parse_port, "N"));
    app.add_option("-d,--device", r.device, "serial device to use as the port, e.g. /dev/ttyUSB0 (`tivctl ports` lists them)")
        ->type_name("PATH");
    app.add_option("-b,--baud", t.baud, "baud rate dividing 115200 (default 9600)")
        ->type_name("B")
        ->check(check_with(tivtools::parse_baud, "B"));
    app.add_flag("--sim", r.sim, "run on an in-process simulated bus, then print its devices and frames");
    app.add_option("--sim-device", t.sim_devices, "simulated device ADDR[:GROUP] (repeat; default 4 devices from 0x010001)")
        ->type_name("ADDR[:GROUP]")
        ->check(check_with(tivtools::parse_sim_device, "DEV"));
    app.add_flag("--json", r.json, "print the result as a JSON line; with --sim then the bus as tivsim --json does");
    app.add_flag("--report-resources", r.report_resources, "")->group("");
    app.add_option("--gateway", r.gateway, "identify, test, release, status: the tivgate to ask, by instance NAME "
                                           "(/run/tivgate/NAME/control.sock) or socket PATH; default: the one running")
        ->type_name("NAME|PATH");
}

void convert(const ArgText& t, Request& r) {
    r.port = (int)*tivtools::parse_port(t.port).value;
    r.baud = *tivtools::parse_baud(t.baud).value;
    for (const std::string& d : t.sim_devices) r.sim_devices.push_back(*tivtools::parse_sim_device(d).value);
    r.progress_interval = *tivtools::parse_seconds(t.progress_interval).value;
    r.demo_image_bytes = *parse_image_bytes(t.demo_image_bytes).value;
    r.monitor.frames = *tivtools::parse_frame_limit(t.monitor_frames).value;
    r.monitor.seconds = *tivtools::parse_seconds(t.monitor_seconds).value;
    Operation& op = r.op;
    if (!t.address.empty()) op.address = *tivtools::parse_address(t.address).value;
    if (!t.colour.empty()) op.colour = *tivtools::parse_colour(t.colour).value;
    if (!t.command.empty()) op.command = (uint8_t)*parse_command(t.command).value;
    for (const std::string& p : t.payload) {
        auto bytes = *tivtools::parse_hex_bytes(p).value;
        op.payload.insert(op.payload.end(), bytes.begin(), bytes.end());
    }
    op.file = t.file;
    if (t.value.empty()) return;
    switch (op.kind) {
    case OpKind::fade_rgbx: op.value = *tivtools::parse_byte(t.value).value; break;
    case OpKind::prog: op.value = *tivtools::parse_program(t.value).value; break;
    case OpKind::set_serial: op.value = *tivtools::parse_physical_address(t.value).value; break;
    case OpKind::set_group: op.value = *tivtools::parse_group(t.value).value; break;
    default: break;
    }
}

// Checks that need more than one argument.
std::string cross_check(const Request& r) {
    if (std::string missing = unavailable_here(r); !missing.empty()) return missing;
    if (r.mode == Mode::gateway && (r.sim || r.port_chosen))
        return "--port, --device and --sim do not apply to identify, test, release and status: they ask a running "
               "tivgate (--gateway NAME|PATH), which holds the port";
    if (r.mode != Mode::gateway && !r.gateway.empty()) return "--gateway applies to identify, test, release and status";
    if (r.mode == Mode::monitor) {
        if (r.sim) return "monitor listens to a line; --sim does not apply (use tivsim)";
        if (r.monitor.device.empty() && !r.monitor.pty && r.monitor.read.empty())
            return "monitor needs one of --device, --pty or --read";
    }
    if (!r.sim_devices.empty() && r.mode == Mode::demo)
        return "demo brings its own devices; --sim-device does not apply";
    if (!r.sim && !r.sim_devices.empty()) return "--sim-device needs --sim";
    if (auto repeated = tivtools::repeated_sim_device(r.sim_devices)) return "--sim-device: " + *repeated;
    if ((r.sim || r.mode == Mode::demo) && !r.device.empty()) return "--device does not apply to --sim or demo";
    if (r.mode == Mode::operation && r.op.kind == OpKind::send &&
        tivtools::frame_wire_size(r.op.address, r.op.command, r.op.payload) == 0)
        return "send: a payload of " + std::to_string(r.op.payload.size()) +
               " bytes does not fit the library's 1000-byte frame buffer";
    // COM1 is often a board's own UART with something else on it.
    if (r.mode == Mode::operation && !r.sim && !r.port_chosen)
        return "choose the port: --port N, --device PATH or --sim (`tivctl ports` lists the serial ports)";
    return {};
}

// The first word that is neither an option nor an option's value: what the
// user meant as the sub-command.
std::string first_word(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-p" || arg == "--port" || arg == "-d" || arg == "--device" || arg == "-b" || arg == "--baud" ||
            arg == "--sim-device" || arg == "--gateway") {
            i++;
        } else if (arg.empty() || arg[0] != '-') {
            return arg;
        }
    }
    return {};
}

int usage_error(std::string message) {
    for (char& c : message)
        if (c == '\n') c = ' ';
    std::fprintf(stderr, "tivctl: %s\n", message.c_str());
    return kExitUsage;
}

// CLI11 shows a sub-command's own options only; the global ones apply to
// every sub-command, so each help names them too.
void add_globals_to_help(CLI::App& app) {
    const std::string globals =
        "Global options (before or after the sub-command):\n"
        "  -p,--port N        COM port number 1..9\n"
        "  -d,--device PATH   serial device to use as the port (`tivctl ports` lists them)\n"
        "  -b,--baud B        baud rate dividing 115200 (default 9600)\n"
        "  --sim              run on an in-process simulated bus\n"
        "  --gateway NAME|PATH  the running tivgate identify, test, release, status ask\n"
        "  --json             print the result as JSON\n";
    for (CLI::App* sub : app.get_subcommands({})) {
        const std::string own = sub->get_footer();
        sub->footer(own.empty() ? globals : own + "\n\n" + globals);
    }
}

}  // namespace

std::optional<int> parse_command_line(int argc, char** argv, Request& request) {
    CLI::App app{"tivctl: drive a bus of four-channel colour devices through the tivlink library", "tivctl"};
    app.require_subcommand(1);
    app.fallthrough();
    app.footer("Numbers are decimal or 0x-hex. --port, --baud and --sim go before or after the sub-command.\n"
               "Exit status: 0 ok, 1 failed, 2 bad command line, 130 Ctrl-C.");
    ArgText typed;
    Subcommands subs;
    add_globals(app, typed, request);
    add_operations(app, typed, subs);
    add_monitor(app, typed, request, subs);
    add_demo(app, typed, subs);
    add_ports(app, request, subs);
    add_gateway(app, typed, subs);
    app.set_version_flag("--version", "tivctl " TIVLINK_VERSION_STRING);
    add_globals_to_help(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        const std::string word = first_word(argc, argv);
        if (app.get_subcommands().empty() && !word.empty())
            return usage_error("unknown sub-command '" + word + "' (tivctl --help lists them)");
        return usage_error(e.what());
    }
    CLI::App* chosen = app.get_subcommands().front();
    if (chosen == subs.monitor) {
        request.mode = Mode::monitor;
    } else if (chosen == subs.demo) {
        request.mode = Mode::demo;
    } else if (chosen == subs.ports) {
        request.mode = Mode::ports;
    } else if (subs.gateway.count(chosen)) {
        if (chosen->get_name() == "identify" && typed.target.empty() && typed.group.empty())
            return usage_error("identify needs ADDR or --group G");
        request.mode = Mode::gateway;
        request.control = control_command(subs.gateway.at(chosen), typed);
    } else {
        request.op.kind = subs.operations.at(chosen);
    }
    convert(typed, request);
    request.port_chosen = app.count("--port") > 0 || !request.device.empty();
    if (request.mode == Mode::monitor && request.monitor.device.empty()) request.monitor.device = request.device;
    std::string problem = cross_check(request);
    if (!problem.empty()) return usage_error(problem);
    return std::nullopt;
}

}  // namespace tivctl
