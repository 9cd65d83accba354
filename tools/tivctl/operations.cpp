#include "tools/tivctl/operations.h"

#include <cstdio>

#include "sim/protocol.h"
#include "tivlink.h"
#include "tools/common/frame_text.h"
#include "tools/common/number_parse.h"
#include "tools/tivctl/exit_status.h"

namespace tivctl {

namespace {

using tivtools::address_text;

// Group addresses read better as plain numbers, and tivctl takes either.
std::string target_text(uint32_t a) { return a > 0xFFFF ? address_text(a) : std::to_string(a); }

// The library has reported a failed frame in its own one-line box already.
int status_of(int32_t result) { return result == 0 ? kExitOk : kExitFailed; }

}  // namespace

int run_operation(const Operation& op) {
    const uint32_t a = op.address;
    switch (op.kind) {
    case OpKind::set_rgbx: return status_of(set_rgbx(a, op.colour));
    case OpKind::fade_rgbx: return status_of(fade_rgbx(a, op.colour, (int32_t)op.value));
    case OpKind::reset: return status_of(xd_reset(a));
    case OpKind::prog: return status_of(xd_prog(a, (int32_t)op.value));
    case OpKind::send:
        return status_of(tiv_frame_send(a, op.command, op.payload.data(), (uint32_t)op.payload.size()));
    case OpKind::set_serial: {
        // Setup sequences do not report failed frames; their boxes have shown.
        const int32_t stored = set_serial(a, (int32_t)op.value);
        std::printf("%s\n", address_text((uint32_t)stored).c_str());
        return kExitOk;
    }
    case OpKind::set_group: set_group(a, (int32_t)op.value); return kExitOk;
    case OpKind::firmware_reset: firmware_reset(a); return kExitOk;
    case OpKind::download: break;  // has its own runner
    }
    return kExitFailed;
}

std::string operation_text(const Operation& op) {
    const std::string a = target_text(op.address);
    switch (op.kind) {
    case OpKind::set_rgbx: return "set-rgbx " + a + " " + tivtools::colour_text(op.colour);
    case OpKind::fade_rgbx:
        return "fade-rgbx " + a + " " + tivtools::colour_text(op.colour) + " " + std::to_string(op.value);
    case OpKind::reset: return "reset " + a;
    case OpKind::prog: return "prog " + a + " " + std::to_string(op.value);
    case OpKind::set_serial: return "set-serial " + a + " " + (op.value ? address_text(op.value) : "random");
    case OpKind::set_group: return "set-group " + a + " " + std::to_string(op.value);
    case OpKind::firmware_reset: return "firmware-reset " + a;
    case OpKind::download: return "download " + a + " " + op.file;
    case OpKind::send: {
        const char* name = tivsim::command_name(op.command);
        std::string s = "send " + a + " " + (name ? name : std::to_string(op.command));
        if (!op.payload.empty()) s += " " + tivtools::hex_text(op.payload);
        return s;
    }
    }
    return "?";
}

}  // namespace tivctl
