#include "tools/tivgate/status_json.h"

#include <algorithm>
#include <cstdio>

#include "tools/common/json.h"

namespace tivgate {

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void look_json(tivtools::Json& j, const char* key, const std::optional<Look>& look, FixtureMode mode) {
    j.key(key);
    if (!look) {
        j.null();
        return;
    }
    j.open('{').key("colour").string(colour_text(look->colour));
    if (mode == FixtureMode::rgbw_fade) j.key("fade").number(look->fade);
    j.close('}');
}

void fixtures_json(tivtools::Json& j, const Snapshot& s) {
    const Patch& patch = *s.patch;
    std::vector<int> group_of(patch.fixtures.size(), -1);
    for (const Group& g : patch.groups)
        for (size_t m : g.members) group_of[m] = (int)g.address;
    j.key("fixtures").open('[');
    for (size_t i = 0; i < patch.fixtures.size() && i < s.fixtures.size(); i++) {
        const Fixture& f = patch.fixtures[i];
        const FixtureView& v = s.fixtures[i];
        j.open('{').key("address").string(address_text(f.address));
        j.key("kind").string(is_group(f.address) ? "group" : "device");
        j.key("group");
        if (group_of[i] >= 0) j.number(group_of[i]);
        else j.null();
        j.key("channel").number(f.channel).key("mode").string(f.mode == FixtureMode::rgbw ? "rgbw" : "rgbw-fade");
        look_json(j, "on_bus", v.on_bus, f.mode);
        // What the source asks for and the bus does not show yet.
        look_json(j, "waiting", v.wanted != v.on_bus ? v.wanted : std::nullopt, f.mode);
        j.key("age_s");
        if (v.on_bus) j.real(seconds(s.taken - v.shown), 1);
        else j.null();
        j.close('}');
    }
    j.close(']');
    j.key("groups").open('[');
    for (const Group& g : patch.groups) {
        j.open('{').key("address").number(g.address).key("members").open('[');
        for (size_t m : g.members) j.string(address_text(patch.fixtures[m].address));
        j.close(']').close('}');
    }
    j.close(']');
}

}  // namespace

std::string address_text(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, is_group(address) ? "%u" : "0x%06X", address);
    return text;
}

void override_json(tivtools::Json& j, const std::optional<OverrideView>& o, Clock::time_point now) {
    j.key("override");
    if (!o) {
        j.null();
        return;
    }
    j.open('{').key("kind").string(o->kind).key("target").string(o->target).key("now");
    if (o->now.empty()) j.null();
    else j.string(o->now);
    j.key("seconds_left").real(std::max(0.0, seconds(o->ends - now)), 1).close('}');
}

std::string colour_text(uint32_t colour) {
    char text[12];
    std::snprintf(text, sizeof text, "#%08X", colour);
    return text;
}

std::string status_json(const Snapshot& s, const StatusContext& c) {
    tivtools::Json j;
    j.open('{').key("version").string(c.version).key("uptime_s").real(seconds(s.taken - s.started), 1);
    j.key("universe").unsigned_number(s.patch->universe);
    j.key("line").open('{').key("path").string(c.path).key("device").string(s.line.device);
    j.key("state").string(line_state_name(s.line.state)).key("since_s").real(seconds(s.taken - s.line.since), 1);
    j.key("losses").unsigned_number(s.counts.losses).close('}');
    j.key("olad").open('{').key("address").string(c.olad).key("connected").boolean(s.source.connected);
    j.key("dmx_per_s").real(s.dmx_per_s, 0).key("silent").boolean(s.source.silent).key("last_frame_s");
    if (s.source.last_frame) j.real(seconds(s.taken - *s.source.last_frame), 3);
    else j.null();
    j.close('}');
    const Counts& n = s.counts;
    j.key("counts").open('{').key("dmx_frames").unsigned_number(n.frames).key("changes").unsigned_number(n.changes);
    j.key("looks_sent").unsigned_number(n.sent).key("coalesced").unsigned_number(n.coalesced);
    j.key("failed_sends").unsigned_number(n.failed).key("refreshes").unsigned_number(n.refreshes);
    j.key("group_looks").unsigned_number(n.group_looks).key("device_looks_saved").unsigned_number(n.saved);
    j.key("line_losses").unsigned_number(n.losses).close('}');
    j.key("looks_per_s").real(s.looks_per_s, 0);
    j.key("latency_ms").open('{').key("median").real(s.latency.quantile_ms(0.5), 2);
    j.key("p99").real(s.latency.quantile_ms(0.99), 2).key("count").unsigned_number(s.latency.count()).close('}');
    override_json(j, s.override_view, s.taken);
    fixtures_json(j, s);
    return j.close('}').take();
}

}  // namespace tivgate
