// tivgate's answers to arbitrary requests over an arbitrary gateway state:
// only GET and HEAD of the three paths succeed, every other method gets 405
// with Allow, a foreign Host on loopback 403; the state is read only for the
// paths that show it; /metrics is well-formed exposition text (names,
// types, counters ending _total, a cumulative histogram ending at its
// count) and /status.json one balanced JSON object.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

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
        const void* end = std::memchr(p, '\n', n);
        const size_t len = end ? (size_t)((const uint8_t*)end - p) : n;
        std::string s((const char*)p, len);
        p += len + (end ? 1 : 0), n -= len + (end ? 1 : 0);
        return s;
    }
};

Snapshot state_from(Bytes& in) {
    auto patch = std::make_shared<Patch>();
    Snapshot s;
    s.taken = Clock::time_point(std::chrono::seconds(in.take(2)) + std::chrono::hours(1));
    for (int i = (int)in.take(1) % 6; i > 0; i--) {
        const auto mode = in.take(1) & 1 ? FixtureMode::rgbw : FixtureMode::rgbw_fade;
        patch->fixtures.push_back({(uint32_t)in.take(3), (int)in.take(2) % 512 + 1, mode, 1});
        const auto look = [&] {
            return in.take(1) & 1 ? std::optional<Look>(Look{(uint32_t)in.take(4), (uint8_t)in.take(1)}) : std::nullopt;
        };
        s.fixtures.push_back({look(), look(), s.taken - std::chrono::milliseconds(in.take(2))});
    }
    if (patch->fixtures.size() > 1) patch->groups.push_back({(uint32_t)in.take(1), {0, 1}, 1});
    s.patch = patch;
    for (uint64_t* c : {&s.counts.frames, &s.counts.sent, &s.counts.losses, &s.counts.saved}) *c = in.take(8);
    s.line.state = (LineState)(in.take(1) % 3);
    s.source.connected = in.take(1) & 1;
    if (in.take(1) & 1) s.source.last_frame = s.taken - std::chrono::milliseconds(in.take(3));
    for (int i = (int)in.take(1); i > 0; i--) s.latency.add(std::chrono::microseconds(in.take(4)));
    return s;
}

void check_metrics(const std::string& text) {
    std::istringstream lines(text);
    std::string line, type, family;
    double last_bucket = 0, count = -1;
    while (std::getline(lines, line)) {
        char name[128] = {}, kind[16] = {};
        if (std::sscanf(line.c_str(), "# TYPE %127s %15s", name, kind) == 2) {
            family = name, type = kind;
            FUZZ_CHECK(family.rfind("tivgate_", 0) == 0);
            FUZZ_CHECK((type == "counter") == (family.size() > 6 && family.ends_with("_total")));
            FUZZ_CHECK(type == "counter" || type == "gauge" || type == "histogram");
            last_bucket = 0;
            continue;
        }
        if (line.rfind("# HELP tivgate_", 0) == 0) continue;
        FUZZ_CHECK(line.rfind(family, 0) == 0);  // every sample under its family
        const char* value = std::strrchr(line.c_str(), ' ');
        FUZZ_CHECK(value && value[1]);
        char* end = nullptr;
        const double v = std::strtod(value + 1, &end);
        FUZZ_CHECK(*end == '\0' && v >= 0);
        if (line.find("_bucket{") != std::string::npos) {
            FUZZ_CHECK(v >= last_bucket);
            last_bucket = v;
        }
        if (line.find("_count ") != std::string::npos) count = v;
    }
    FUZZ_CHECK(count == last_bucket);
}

// Brackets balance outside strings, and the text is one object.
void check_json(const std::string& text) {
    std::string open;
    bool in_string = false;
    for (size_t i = 0; i < text.size(); i++) {
        const char c = text[i];
        if (in_string) {
            FUZZ_CHECK((unsigned char)c >= 0x20);
            if (c == '\\') i++;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            open += c;
        } else if (c == '}' || c == ']') {
            FUZZ_CHECK(!open.empty() && open.back() == (c == '}' ? '{' : '['));
            open.pop_back();
            FUZZ_CHECK(!open.empty() || text.substr(i + 1) == "\n");
        }
    }
    FUZZ_CHECK(open.empty() && !in_string && text.front() == '{');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in{data, size};
    const bool loopback = in.take(1) & 1;
    const std::string method = in.line(), path = in.line(), host = in.line(), device = in.line();
    const std::optional<std::string_view> host_header = host == "-" ? std::nullopt : std::optional<std::string_view>(host);
    bool read_state = false;
    const HttpReply r = respond({method, path, host_header}, loopback, [&] {
        read_state = true;
        return state_from(in);
    }, {"1.0.0", "127.0.0.1:9010", device});

    const bool readable = method == "GET" || method == "HEAD";
    const bool shown = path == "/status.json" || path == "/metrics";
    FUZZ_CHECK(r.status == 200 || r.status == 403 || r.status == 404 || r.status == 405);
    FUZZ_CHECK((r.status == 405) == !readable);
    FUZZ_CHECK((r.status == 405) == (r.headers.back().first == "Allow"));
    FUZZ_CHECK(r.status != 403 || (loopback && host_header));
    FUZZ_CHECK((r.status == 200) == (readable && r.status != 403 && (shown || path == "/")));
    FUZZ_CHECK(read_state == (r.status == 200 && shown));
    FUZZ_CHECK(r.headers.front().first == "Content-Type" && !r.body.empty());
    if (r.status == 200 && path == "/metrics") check_metrics(r.body);
    if (r.status == 200 && path == "/status.json") check_json(r.body);
    return 0;
}
