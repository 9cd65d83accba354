#include "tools/tivctl/operations.h"

#include <cstdio>
#include <functional>

#include "sim/protocol.h"
#include "tivlink.h"
#include "tools/common/count_text.h"
#include "tools/common/frame_text.h"
#include "tools/common/number_parse.h"
#include "tools/tivctl/exit_status.h"
#include "tools/tivctl/failed_frames.h"
#include "tools/common/json.h"

namespace tivctl {

namespace {

using tivtools::address_text;
using tivtools::json_string;

// A word as a shell takes it back when pasted: '#' would start a comment.
std::string shell_word(const std::string& word) {
    const bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789_./:=+-") == std::string::npos;
    if (plain) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Group addresses read better as plain numbers, and tivctl takes either.
std::string target_text(uint32_t a) { return a > 0xFFFF ? address_text(a) : std::to_string(a); }

// The library's result of one operation: 0 or -1 for the light commands
// and raw frames, the address stored for set-serial, 0 for the others.
int32_t call_library(const Operation& op) {
    const uint32_t a = op.address;
    switch (op.kind) {
    case OpKind::set_rgbx: return set_rgbx(a, op.colour);
    case OpKind::fade_rgbx: return fade_rgbx(a, op.colour, (int32_t)op.value);
    case OpKind::reset: return xd_reset(a);
    case OpKind::prog: return xd_prog(a, (int32_t)op.value);
    case OpKind::send: return tiv_frame_send(a, op.command, op.payload.data(), (uint32_t)op.payload.size());
    case OpKind::set_serial: return set_serial(a, (int32_t)op.value);
    case OpKind::set_group: return set_group(a, (int32_t)op.value);
    case OpKind::firmware_reset: return firmware_reset(a);
    case OpKind::download: break;  // has its own runner
    }
    return -1;
}

// Frames that failed while `run` ran; 0 where the build cannot tell.
uint32_t frames_failed_during(const std::function<void()>& run) {
    const std::optional<uint32_t> before = failed_frames();
    run();
    const std::optional<uint32_t> after = failed_frames();
    return before && after ? *after - *before : 0;
}

// The exit status of a finished operation and the address to show, if any.
int outcome(const Operation& op, int32_t result, uint32_t failed, std::string& stored) {
    if (failed) {
        // The library has shown each failed frame in its own box already.
        std::fprintf(stderr, "tivctl: %s: %s not written whole", operation_text(op).c_str(),
                     tivtools::count_text(failed, "frame").c_str());
        if (op.kind == OpKind::set_serial)
            std::fprintf(stderr, "; the device may not have stored %s", address_text((uint32_t)result).c_str());
        std::fputc('\n', stderr);
        return kExitFailed;
    }
    switch (op.kind) {
    case OpKind::set_serial: stored = address_text((uint32_t)result); return kExitOk;
    case OpKind::set_group:
    case OpKind::firmware_reset: return kExitOk;  // their result says nothing about their frames
    default: return result == 0 ? kExitOk : kExitFailed;
    }
}

}  // namespace

int run_operation(const Operation& op, bool json) {
    int32_t result = 0;
    const uint32_t failed = frames_failed_during([&] { result = call_library(op); });
    std::string stored;
    const int status = outcome(op, result, failed, stored);
    if (json)
        print_result_json(op, status, stored);
    else if (!stored.empty())
        std::printf("%s\n", stored.c_str());
    return status;
}

void print_result_json(const Operation& op, int status, const std::string& address) {
    std::string s = "{\"operation\":" + json_string(operation_text(op)) + ",\"ok\":" + (status == 0 ? "true" : "false");
    s += ",\"exit\":" + std::to_string(status);
    if (!address.empty()) s += ",\"address\":" + json_string(address);
    std::printf("%s}\n", s.c_str());
    std::fflush(stdout);
}

std::string operation_text(const Operation& op) {
    const std::string a = target_text(op.address);
    switch (op.kind) {
    case OpKind::set_rgbx: return "set-rgbx " + a + " " + shell_word(tivtools::colour_text(op.colour));
    case OpKind::fade_rgbx:
        return "fade-rgbx " + a + " " + shell_word(tivtools::colour_text(op.colour)) + " " + std::to_string(op.value);
    case OpKind::reset: return "reset " + a;
    case OpKind::prog: return "prog " + a + " " + std::to_string(op.value);
    case OpKind::set_serial: return "set-serial " + a + " " + (op.value ? address_text(op.value) : "random");
    case OpKind::set_group: return "set-group " + a + " " + std::to_string(op.value);
    case OpKind::firmware_reset: return "firmware-reset " + a;
    case OpKind::download: return "download " + a + " " + shell_word(op.file);
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
