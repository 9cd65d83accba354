// tivgate's answers to arbitrary requests over arbitrary gateway states:
// only GET and HEAD of the three paths succeed, every other method gets 405
// with Allow, a foreign Host on loopback 403; the state is read only for the
// paths that show it; /metrics is exposition text whose counters end in
// _total and whose histogram is cumulative up to its count.
#include <sstream>

#include "fuzz/fuzz_check.h"
#include "tools/tivgate/http_routes.h"

using namespace tivgate;

namespace {

struct Bytes {
    const uint8_t* p;
    size_t n;
    uint64_t take(int count) {
        uint64_t v = 0;
        for (; count > 0 && n; count--, n--) v = v << 8 | *p++;
        return v;
    }
    std::string line() {
        std::string s;
        for (; n && *p != '\n'; n--) s += (char)*p++;
        if (n) n--, p++;
        return s;
    }
};

Snapshot state_from(Bytes& in) {
    auto patch = std::make_shared<Patch>();
    Snapshot s;
    s.taken = Clock::time_point(std::chrono::seconds(in.take(2) + 3600));
    const auto look = [&] { return in.take(1) & 1 ? std::optional<Look>(Look{(uint32_t)in.take(4), 0}) : std::nullopt; };
    for (int i = (int)in.take(1) % 6; i > 0; i--) {
        patch->fixtures.push_back({(uint32_t)in.take(3), 1, in.take(1) & 1 ? FixtureMode::rgbw : FixtureMode::rgbw_fade, 1});
        s.fixtures.push_back({look(), look(), s.taken - std::chrono::milliseconds(in.take(2))});
    }
    s.patch = patch;
    for (uint64_t* c : {&s.counts.frames, &s.counts.sent, &s.counts.losses}) *c = in.take(8);
    s.line.state = (LineState)(in.take(1) % 3);
    if (in.take(1) & 1) s.source.last_frame = s.taken - std::chrono::milliseconds(in.take(3));
    for (int i = (int)in.take(1); i > 0; i--) s.latency.add(std::chrono::microseconds(in.take(4)));
    return s;
}

void check_metrics(const std::string& text) {
    std::istringstream lines(text);
    std::string line, family;
    double bucket = 0, count = -1;
    while (std::getline(lines, line)) {
        char name[128] = {}, type[16] = {};
        if (std::sscanf(line.c_str(), "# TYPE %127s %15s", name, type) == 2) {
            family = name, bucket = 0;
            FUZZ_CHECK(family.rfind("tivgate_", 0) == 0);
            FUZZ_CHECK((std::string(type) == "counter") == family.ends_with("_total"));
        }
        if (line[0] == '#') continue;  // HELP, or the TYPE above
        FUZZ_CHECK(line.rfind(family, 0) == 0);  // every sample under its family
        char* end = nullptr;
        const double v = std::strtod(line.c_str() + line.rfind(' ') + 1, &end);
        FUZZ_CHECK(*end == '\0' && v >= 0);
        if (line.find("_bucket{") != std::string::npos) FUZZ_CHECK(v >= bucket);
        if (line.find("_bucket{") != std::string::npos) bucket = v;
        if (line.find("_count ") != std::string::npos) count = v;
    }
    FUZZ_CHECK(count == bucket);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

// Input: a loopback flag byte, then method, path and Host ("-": none) a line
// each, then the gateway's state.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    const bool loopback = in.take(1) & 1;
    const std::string method = in.line(), path = in.line(), host = in.line();
    bool read = false;
    const HttpReply r = respond({method, path, host == "-" ? std::nullopt : std::optional<std::string_view>(host)}, loopback,
                                [&] { return read = true, state_from(in); }, {"1.0.0", "127.0.0.1:9010", "/dev/ttyUSB0"});
    const bool readable = method == "GET" || method == "HEAD", shown = path == "/status.json" || path == "/metrics";
    FUZZ_CHECK((r.status == 405) == !readable && (r.status == 405) == (r.headers.back().first == "Allow"));
    FUZZ_CHECK(r.status != 403 || (loopback && host != "-"));
    FUZZ_CHECK((r.status == 200) == (readable && r.status != 403 && (shown || path == "/")));
    FUZZ_CHECK(r.status == 200 || r.status == 403 || r.status == 404 || r.status == 405);
    FUZZ_CHECK(read == (r.status == 200 && shown) && r.headers.front().first == "Content-Type" && !r.body.empty());
    if (r.status == 200 && path == "/metrics") check_metrics(r.body);
    return 0;
}
