#include "tools/common/control_command.h"

#include <vector>

namespace tivtools {

namespace {

// Quoted input is cut short and shown in printable ASCII: an answer is one
// line of valid JSON whatever came in.
constexpr size_t kShownMax = 40;

std::string printable(std::string_view text) {
    std::string out;
    for (char c : text) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

std::string shown(std::string_view word) {
    const bool cut = word.size() > kShownMax;
    return "'" + printable(word.substr(0, kShownMax)) + (cut ? "...'" : "'");
}

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            i++;
            continue;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') i++;
        words.push_back(line.substr(start, i - start));
    }
    return words;
}

ControlCommand of(ControlVerb verb) {
    ControlCommand c;
    c.verb = verb;
    return c;
}

Parsed<ControlCommand> fail(const std::string& why) { return Parsed<ControlCommand>::fail(printable(why)); }

// The words after the verb's own: none, or the seconds.
Parsed<ControlCommand> with_seconds(ControlCommand c, const std::vector<std::string_view>& rest) {
    if (rest.size() > 1) return fail("unexpected " + shown(rest[1]) + " after the seconds");
    if (rest.empty()) return {c, {}};
    const Parsed<uint64_t> n = parse_unsigned(rest[0], kOverrideSecondsMax);
    if (!n || *n.value == 0)
        return fail("seconds " + shown(rest[0]) + " must be a whole number 1.." + std::to_string(kOverrideSecondsMax));
    c.seconds = (unsigned)*n.value;
    return {c, {}};
}

template <class T>
Parsed<ControlCommand> or_error(const Parsed<T>& p, ControlCommand c, const std::vector<std::string_view>& rest) {
    if (!p) return fail(p.error);
    c.target = (uint32_t)*p.value;
    return with_seconds(c, rest);
}

Parsed<ControlCommand> parse_identify(const std::vector<std::string_view>& w) {
    if (w.size() < 2) return fail("identify needs an address: identify ADDR [SECONDS] or identify group G [SECONDS]");
    if (w[1] != "group") return or_error(parse_address(w[1]), of(ControlVerb::identify), {w.begin() + 2, w.end()});
    if (w.size() < 3) return fail("identify group needs a group 1..255");
    return or_error(parse_group(w[2]), of(ControlVerb::identify_group), {w.begin() + 3, w.end()});
}

Parsed<ControlCommand> parse_test(const std::vector<std::string_view>& w) {
    if (w.size() < 2) return fail("test needs a colour or 'chase': test COLOUR|chase [SECONDS]");
    const std::vector<std::string_view> rest(w.begin() + 2, w.end());
    if (w[1] == "chase") return with_seconds(of(ControlVerb::chase), rest);
    return or_error(parse_colour(w[1]), of(ControlVerb::test), rest);
}

Parsed<ControlCommand> alone(ControlVerb verb, const std::vector<std::string_view>& w) {
    if (w.size() > 1) return fail(std::string(w[0]) + " takes nothing more, not " + shown(w[1]));
    return {of(verb), {}};
}

}  // namespace

Parsed<ControlCommand> parse_control_line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // a client that ends lines the network's way
    const std::vector<std::string_view> w = words_of(line);
    if (w.empty()) return fail("empty line: identify, test, release or status");
    if (w[0] == "identify") return parse_identify(w);
    if (w[0] == "test") return parse_test(w);
    if (w[0] == "release") return alone(ControlVerb::release, w);
    if (w[0] == "status") return alone(ControlVerb::status, w);
    return fail("unknown command " + shown(w[0]) + ": identify, test, release or status");
}

std::string control_line(const ControlCommand& c) {
    std::string line;
    switch (c.verb) {
    case ControlVerb::identify: line = "identify " + address_text(c.target); break;
    case ControlVerb::identify_group: line = "identify group " + std::to_string(c.target); break;
    case ControlVerb::test: line = "test " + colour_text(c.target); break;
    case ControlVerb::chase: line = "test chase"; break;
    case ControlVerb::release: return "release";
    case ControlVerb::status: return "status";
    }
    if (c.seconds) line += " " + std::to_string(*c.seconds);
    return line;
}

}  // namespace tivtools
