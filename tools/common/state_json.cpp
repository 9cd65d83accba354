#include "tools/common/state_json.h"

#include <cstdio>

#include "sim/protocol.h"
#include "tools/common/json.h"

namespace tivtools {

namespace {

template <class Bytes>
std::string hex(const Bytes& bytes) {
    std::string s;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        s += two;
    }
    return s;
}

void device_json(Json& j, const tivsim::DeviceState& d) {
    j.open('{');
    j.key("address").number(d.physical_address).key("group").number(d.group);
    j.key("setup_mode").boolean(d.setup_mode).key("channels").numbers(d.channels);
    j.key("fade_target").numbers(d.fade_target).key("fade_steps").numbers(d.fade_steps);
    j.key("fade_param").number(d.fade_param).key("fade_option").number(d.fade_option);
    j.key("light_mode").number(d.light_mode).key("program").number(d.program);
    j.key("program_byte").number(d.program_byte).key("frames_reached").number(d.frames_reached);
    j.key("frames_ignored").number(d.frames_ignored).key("eeprom_writes").number(d.eeprom_writes);
    j.key("resets").number(d.resets).key("eeprom").string(hex(d.eeprom));
    j.close('}');
}

void frame_json(Json& j, const tivsim::DecodedFrame& f, tivsim::Nanos origin) {
    j.open('{');
    j.key("time_ns").number((f.first_time - origin).count()).key("kind").string(tivsim::frame_kind_name(f.kind));
    if (f.has_header()) {
        const char* name = tivsim::command_name(f.command);
        j.key("address").number(f.address).key("length").number(f.length).key("command").number(f.command);
        j.key("command_name").string(name ? name : "").key("payload").string(hex(f.payload));
        j.key("escapes").number(f.escapes);
    }
    if (f.kind != tivsim::FrameKind::ok) j.key("wire").string(hex(f.wire));
    j.close('}');
}

void counts_json(Json& j, const BusState& s) {
    long long good = 0, bad_crc = 0, malformed = 0, noise_bytes = 0;
    for (const tivsim::DecodedFrame& f : s.log) {
        switch (f.kind) {
        case tivsim::FrameKind::ok: good++; break;
        case tivsim::FrameKind::bad_crc: bad_crc++; break;
        case tivsim::FrameKind::noise: noise_bytes += (long long)f.wire.size(); break;
        default: malformed++; break;
        }
    }
    j.open('{');
    j.key("frames").number(good + bad_crc + malformed).key("good").number(good).key("bad_crc").number(bad_crc);
    j.key("malformed").number(malformed).key("noise_bytes").number(noise_bytes);
    j.key("bytes_received").number((long long)s.stats.bytes_received);
    j.key("bytes_sent").number((long long)s.stats.bytes_sent);
    j.key("bytes_dropped").number((long long)s.stats.bytes_dropped);
    j.close('}');
}

}  // namespace

std::string bus_state_json(const BusState& s) {
    Json j;
    j.open('{');
    j.key("com").number(s.com).key("path").string(s.path);
    j.key("counts");
    counts_json(j, s);
    j.key("devices").open('[');
    for (const tivsim::DeviceState& d : s.devices) device_json(j, d);
    j.close(']');
    j.key("frames").open('[');
    const tivsim::Nanos origin = s.log.empty() ? tivsim::Nanos{0} : s.log.front().first_time;
    for (const tivsim::DecodedFrame& f : s.log) frame_json(j, f, origin);
    j.close(']');
    j.close('}');
    return j.take();
}

}  // namespace tivtools
