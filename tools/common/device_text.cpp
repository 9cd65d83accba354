#include "tools/common/device_text.h"

#include <cstdio>

namespace tivtools {

namespace {

std::string printf_text(const char* format, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

}  // namespace

std::string device_header() {
    return "  address   group  R  G  B  W   colour  fade to    setup  program  frames";
}

std::string device_row(const tivsim::DeviceState& d, ColourSupport colour, bool changed) {
    const auto& c = d.channels;
    std::string swatches = colour == ColourSupport::none
                               ? std::string(6, ' ')
                               : swatch(colour, c[0], c[1], c[2]) + " " + swatch(colour, c[3], c[3], c[3]) + " ";
    std::string program = d.program >= 0 ? std::to_string(d.program) : d.program_byte ? "byte" : "-";
    return printf_text("%c 0x%06X  %5u  %02X %02X %02X %02X  ", changed ? '*' : ' ', d.physical_address,
                       d.group, c[0], c[1], c[2], c[3]) +
           swatches + printf_text("  #%02X%02X%02X%02X  %-5s  %-7s  %u", d.fade_target[0], d.fade_target[1],
                                  d.fade_target[2], d.fade_target[3], d.setup_mode ? "yes" : "no", program.c_str(),
                                  d.frames_reached);
}

bool device_differs(const tivsim::DeviceState& a, const tivsim::DeviceState& b) {
    return a.physical_address != b.physical_address || a.group != b.group || a.setup_mode != b.setup_mode ||
           a.channels != b.channels || a.fade_target != b.fade_target || a.program != b.program ||
           a.program_byte != b.program_byte || a.eeprom != b.eeprom || a.frames_reached != b.frames_reached;
}

}  // namespace tivtools
