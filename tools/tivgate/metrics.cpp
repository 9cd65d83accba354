#include "tools/tivgate/metrics.h"

#include <charconv>
#include <cmath>

namespace tivgate {

namespace {

// The shortest text that reads back as the same double, as Prometheus's own
// clients write it.
std::string number(double v) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, v).ptr);
}

class Exposition {
public:
    Exposition& family(const char* name, const char* type, const char* help) {
        name_ = std::string("tivgate_") + name;
        out_ += "# HELP " + name_ + " " + help + "\n# TYPE " + name_ + " " + type + "\n";
        return *this;
    }
    Exposition& sample(double value, const char* suffix = "", const std::string& labels = "") {
        out_ += name_ + suffix + (labels.empty() ? "" : "{" + labels + "}") + " " + number(value) + "\n";
        return *this;
    }
    Exposition& counter(const char* name, const char* help, uint64_t value) {
        return family(name, "counter", help).sample((double)value);
    }
    Exposition& gauge(const char* name, const char* help, double value) {
        return family(name, "gauge", help).sample(value);
    }
    std::string take() { return std::move(out_); }

private:
    std::string out_, name_;
};

// Label values are quoted, with \ " and newline escaped.
std::string label_value(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"' || c == '\n') out += '\\';
        out += c == '\n' ? 'n' : c;
    }
    return "\"" + out + "\"";
}

// Whole octaves of milliseconds from 1/8 ms, where the histogram's counts
// are exact (LatencyHistogram::at_most_octave), in seconds.
void latency(Exposition& e, const LatencyHistogram& h) {
    e.family("dmx_to_bus_seconds", "histogram", "Time from a DMX change to the first frame of its look on the bus.");
    for (int octave = -3; octave <= LatencyHistogram::kLowestOctave + LatencyHistogram::kOctaves; octave++)
        e.sample((double)h.at_most_octave(octave), "_bucket", "le=\"" + number(std::exp2(octave) / 1000) + "\"");
    e.sample((double)h.count(), "_bucket", "le=\"+Inf\"");
    e.sample(h.sum_seconds(), "_sum").sample((double)h.count(), "_count");
}

}  // namespace

std::string metrics_text(const Snapshot& s, const std::string& version) {
    Exposition e;
    e.family("build_info", "gauge", "The tivlink version tivgate runs; always 1.");
    e.sample(1, "", "version=" + label_value(version));
    e.gauge("uptime_seconds", "Time since tivgate started.",
            std::chrono::duration<double>(s.taken - s.started).count());
    const Counts& n = s.counts;
    e.counter("dmx_frames_total", "DMX frames received for the patch's universe.", n.frames);
    e.counter("fixture_changes_total", "Fixture looks received that differed from the one before.", n.changes);
    e.counter("changes_coalesced_total", "Changes replaced by a later one before they were sent.", n.coalesced);
    e.counter("looks_sent_total", "Looks given to the bus for changes (refreshes apart).", n.sent);
    e.counter("group_looks_total", "Declared groups' looks among the looks sent.", n.group_looks);
    e.counter("device_looks_saved_total", "Device looks that group looks stood in for.", n.saved);
    e.counter("refreshes_total", "Looks sent again unchanged, for devices that may have restarted.", n.refreshes);
    e.counter("failed_sends_total", "Sends with a frame not written whole.", n.failed);
    e.counter("line_losses_total", "Times the line to the bus was lost.", n.losses);
    e.gauge("line_up", "1 while the line to the bus is open.", s.line.state == LineState::open ? 1 : 0);
    e.gauge("olad_connected", "1 while registered with olad for the universe.", s.source.connected ? 1 : 0);
    e.gauge("dmx_silent", "1 while the DMX source counts as lost (no frame for the patch's loss time).",
            s.source.silent ? 1 : 0);
    e.family("override_active", "gauge", "1 while an identify or test pattern overrides DMX, labelled with what.");
    if (s.override_view)
        e.sample(1, "", "kind=" + label_value(s.override_view->kind) + ",target=" + label_value(s.override_view->target));
    else e.sample(0);
    e.gauge("fixtures", "Fixtures in the patch.", (double)s.fixtures.size());
    size_t waiting = 0;
    for (const FixtureView& f : s.fixtures) waiting += f.wanted && f.wanted != f.on_bus;
    e.gauge("looks_waiting", "Fixtures whose latest DMX look the bus does not show yet.", (double)waiting);
    // No sample before the first frame: there is no age to give.
    e.family("dmx_frame_age_seconds", "gauge", "Time since the last DMX frame of the universe.");
    if (s.source.last_frame) e.sample(std::chrono::duration<double>(s.taken - *s.source.last_frame).count());
    latency(e, s.latency);
    return e.take();
}

}  // namespace tivgate
