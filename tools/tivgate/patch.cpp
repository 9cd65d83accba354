#include "tools/tivgate/patch.h"

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <toml++/toml.h>

#include "tools/common/number_parse.h"

namespace tivgate {

namespace {

constexpr int kSlots = 512;

// A refusal: the line it concerns and why.
struct Refusal {
    int line;
    std::string reason;
};

int line_of(const toml::node& node) { return (int)node.source().begin.line; }

std::optional<Refusal> unknown_keys(const toml::table& table, std::initializer_list<std::string_view> known,
                                    const std::string& where) {
    for (const auto& [key, node] : table) {
        if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
        const int line = key.source().begin.line ? (int)key.source().begin.line : line_of(node);
        return Refusal{line, "unknown key '" + std::string(key.str()) + "'" + where};
    }
    return std::nullopt;
}

// An integer in [lo, hi], with the key's line on refusal.
std::optional<Refusal> integer_in(const toml::table& table, std::string_view key, int64_t lo, int64_t hi,
                                  int fallback_line, int64_t& out) {
    const toml::node* node = table.get(key);
    if (!node) return Refusal{fallback_line, "'" + std::string(key) + "' is missing"};
    const auto value = node->value_exact<int64_t>();
    if (!value) return Refusal{line_of(*node), "'" + std::string(key) + "' must be an integer"};
    if (*value < lo || *value > hi) {
        std::ostringstream s;
        s << "'" << key << "' = " << *value << " is out of range " << lo << ".." << hi;
        return Refusal{line_of(*node), s.str()};
    }
    out = *value;
    return std::nullopt;
}

std::optional<Refusal> read_mode(const toml::table& t, int line, FixtureMode& mode) {
    const toml::node* node = t.get("mode");
    if (!node) return Refusal{line, "'mode' is missing"};
    const auto text = node->value_exact<std::string>();
    if (text == "rgbw") mode = FixtureMode::rgbw;
    else if (text == "rgbw-fade") mode = FixtureMode::rgbw_fade;
    else return Refusal{line_of(*node), "'mode' must be \"rgbw\" or \"rgbw-fade\""};
    return std::nullopt;
}

std::optional<Refusal> read_fixture(const toml::table& t, Fixture& f) {
    f.line = line_of(t);
    if (auto r = unknown_keys(t, {"address", "channel", "mode"}, " in [[fixture]]")) return r;
    int64_t address = 0, channel = 0;
    if (const toml::node* a = t.get("address"); a && a->value_exact<int64_t>()) {
        const int64_t v = *a->value_exact<int64_t>();
        if (!((v >= 1 && v <= 255) || (v >= 0x10000 && v <= 0xFFFFFF))) {
            std::ostringstream s;
            s << "'address' = 0x" << std::hex << std::uppercase << v
              << " is neither a group (1..255) nor a device (0x10000..0xFFFFFF)";
            return Refusal{line_of(*a), s.str()};
        }
        address = v;
    } else if (auto r = integer_in(t, "address", 1, 0xFFFFFF, f.line, address)) {
        return r;
    }
    if (auto r = read_mode(t, f.line, f.mode)) return r;
    if (auto r = integer_in(t, "channel", 1, kSlots - slot_count(f.mode) + 1, f.line, channel)) return r;
    f.address = (uint32_t)address;
    f.channel = (int)channel;
    return std::nullopt;
}

// Seconds up to a day, kept in milliseconds; `zero_allowed` for "never".
std::optional<Refusal> seconds_in(const toml::table& t, std::string_view key, bool zero_allowed,
                                  std::chrono::milliseconds& out) {
    const toml::node* node = t.get(key);
    if (!node) return std::nullopt;
    const auto seconds = node->value<double>();
    if (!seconds || !(*seconds > 0 || (zero_allowed && *seconds == 0)) || *seconds > 86400)
        return Refusal{line_of(*node), "'" + std::string(key) + "' must be seconds, " +
                                           (zero_allowed ? "0 (off) or more" : "more than 0") + " and at most 86400"};
    out = std::chrono::milliseconds((int64_t)(*seconds * 1000 + 0.5));
    return std::nullopt;
}

std::optional<Refusal> read_loss(const toml::table& t, LossPolicy& loss) {
    if (auto r = unknown_keys(t, {"after", "look", "fade"}, " in [loss]")) return r;
    if (auto r = seconds_in(t, "after", false, loss.after)) return r;
    const toml::node* look = t.get("look");
    if (!look || look->value_exact<std::string>() == "hold") {
        if (t.get("fade")) return Refusal{line_of(*t.get("fade")), "'fade' needs a 'look' colour"};
        return std::nullopt;
    }
    int64_t colour = 0, fade = 0;
    if (!look->value_exact<int64_t>())
        return Refusal{line_of(*look), "'look' must be \"hold\" or a colour 0xRRGGBBWW"};
    if (auto r = integer_in(t, "look", 0, 0xFFFFFFFF, line_of(*look), colour)) return r;
    if (t.get("fade"))
        if (auto r = integer_in(t, "fade", 0, 255, line_of(t), fade)) return r;
    loss.look = Look{(uint32_t)colour, (uint8_t)fade};
    return std::nullopt;
}

std::optional<Refusal> check_overlaps(const std::vector<Fixture>& fixtures) {
    for (size_t i = 0; i < fixtures.size(); i++) {
        for (size_t j = 0; j < i; j++) {
            const Fixture& a = fixtures[j];
            const Fixture& b = fixtures[i];
            if (a.address == b.address) {
                std::ostringstream s;
                s << "address 0x" << std::hex << std::uppercase << b.address << " is patched already on line "
                  << std::dec << a.line;
                return Refusal{b.line, s.str()};
            }
            const bool apart = b.channel + slot_count(b.mode) <= a.channel ||
                               a.channel + slot_count(a.mode) <= b.channel;
            if (!apart)
                return Refusal{b.line, "slots " + std::to_string(b.channel) + ".." +
                                           std::to_string(b.channel + slot_count(b.mode) - 1) +
                                           " overlap the fixture on line " + std::to_string(a.line)};
        }
    }
    return std::nullopt;
}

std::string hex(uint32_t address) {
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << std::setfill('0') << std::setw(address < 0x10000 ? 0 : 6) << address;
    return s.str();
}

const char* mode_name(FixtureMode mode) { return mode == FixtureMode::rgbw ? "rgbw" : "rgbw-fade"; }

std::optional<Refusal> read_members(const toml::table& t, const Patch& patch, Group& g) {
    const toml::node* node = t.get("members");
    if (!node) return Refusal{g.line, "'members' is missing"};
    const toml::array* list = node->as_array();
    if (!list || list->empty())
        return Refusal{line_of(*node), "'members' must list the group's devices: [0x010001, ...]"};
    for (const toml::node& m : *list) {
        const auto address = m.value_exact<int64_t>();
        const auto at = std::find_if(patch.fixtures.begin(), patch.fixtures.end(),
                                     [&](const Fixture& f) { return address && f.address == *address; });
        if (!address || at == patch.fixtures.end() || is_group(at->address))
            return Refusal{line_of(m), "member " + (address ? hex((uint32_t)*address) : std::string("?")) +
                                           " is not a device fixture of this patch"};
        const size_t index = (size_t)(at - patch.fixtures.begin());
        for (const Group& other : patch.groups)
            if (std::find(other.members.begin(), other.members.end(), index) != other.members.end())
                return Refusal{line_of(m), "device " + hex(at->address) + " is a member of the group on line " +
                                               std::to_string(other.line) + " already"};
        if (std::find(g.members.begin(), g.members.end(), index) != g.members.end())
            return Refusal{line_of(m), "device " + hex(at->address) + " is listed twice"};
        const Fixture& first = patch.fixtures[g.members.empty() ? index : g.members.front()];
        if (first.mode != at->mode)
            return Refusal{line_of(m), "device " + hex(at->address) + " is " + mode_name(at->mode) + " but " +
                                           hex(first.address) + " is " + mode_name(first.mode) +
                                           ": a group's members share one mode"};
        g.members.push_back(index);
    }
    return std::nullopt;
}

std::optional<Refusal> read_group(const toml::table& t, const Patch& patch, Group& g) {
    g.line = line_of(t);
    if (auto r = unknown_keys(t, {"address", "members"}, " in [[group]]")) return r;
    int64_t address = 0;
    if (auto r = integer_in(t, "address", 1, 255, g.line, address)) return r;
    g.address = (uint32_t)address;
    for (const Fixture& f : patch.fixtures)
        if (f.address == g.address)
            return Refusal{line_of(*t.get("address")), "group " + std::to_string(address) +
                                                           " is patched as a fixture on line " + std::to_string(f.line) +
                                                           "; declare it or patch it, not both"};
    for (const Group& other : patch.groups)
        if (other.address == g.address)
            return Refusal{line_of(*t.get("address")),
                           "group " + std::to_string(address) + " is declared already on line " +
                               std::to_string(other.line)};
    return read_members(t, patch, g);
}

std::optional<Refusal> read_groups(const toml::table& root, Patch& patch) {
    const toml::node* node = root.get("group");
    if (!node) return std::nullopt;
    const toml::array* list = node->as_array();
    if (!list) return Refusal{line_of(*node), "'group' must be an array of tables: [[group]]"};
    for (const toml::node& item : *list) {
        const toml::table* t = item.as_table();
        if (!t) return Refusal{line_of(item), "each group must be a table"};
        Group g{};
        if (auto r = read_group(*t, patch, g)) return r;
        patch.groups.push_back(std::move(g));
    }
    return std::nullopt;
}

std::optional<Refusal> read_startup(const toml::table& t, BusPolicy& bus) {
    const toml::node* node = t.get("startup");
    if (!node || node->value_exact<std::string>() == "hold") return std::nullopt;
    const std::optional<std::string> text = node->value_exact<std::string>();
    const auto colour = tivtools::parse_colour(text.value_or(""));
    if (!text || text->empty() || (*text)[0] != '#' || !colour)
        return Refusal{line_of(*node), "'startup' must be \"hold\" or a colour \"#RRGGBBWW\""};
    bus.startup = Look{*colour.value, 0};
    return std::nullopt;
}

std::optional<Refusal> read_bus(const toml::node& node, BusPolicy& bus) {
    const toml::table* t = node.as_table();
    if (!t) return Refusal{line_of(node), "'bus' must be a table: [bus]"};
    if (auto r = unknown_keys(*t, {"refresh", "startup"}, " in [bus]")) return r;
    if (auto r = read_startup(*t, bus)) return r;
    return seconds_in(*t, "refresh", true, bus.refresh);
}

std::optional<Refusal> read_http(const toml::node& node, HttpPolicy& http) {
    const toml::table* t = node.as_table();
    if (!t) return Refusal{line_of(node), "'http' must be a table: [http]"};
    if (auto r = unknown_keys(*t, {"listen"}, " in [http]")) return r;
    const toml::node* listen = t->get("listen");
    if (!listen) return std::nullopt;
    const auto text = listen->value_exact<std::string>();
    if (!text || (!text->empty() && !parse_listen(*text)))
        return Refusal{line_of(*listen), "'listen' must be \"\" (off) or an IPv4 address and port such as "
                                         "\"127.0.0.1:9011\""};
    http.listen = *text;
    return std::nullopt;
}

std::optional<Refusal> read_root(const toml::table& root, Patch& patch) {
    if (auto r = unknown_keys(root, {"universe", "fixture", "group", "loss", "bus", "http"}, "")) return r;
    int64_t universe = 0;
    if (auto r = integer_in(root, "universe", 0, 0xFFFFFFFF, 1, universe)) return r;
    patch.universe = (unsigned)universe;
    const toml::node* fixtures = root.get("fixture");
    if (!fixtures) return Refusal{1, "no [[fixture]] in the patch"};
    const toml::array* list = fixtures->as_array();
    if (!list) return Refusal{line_of(*fixtures), "'fixture' must be an array of tables: [[fixture]]"};
    for (const toml::node& node : *list) {
        const toml::table* t = node.as_table();
        if (!t) return Refusal{line_of(node), "each fixture must be a table"};
        Fixture f{};
        if (auto r = read_fixture(*t, f)) return r;
        patch.fixtures.push_back(f);
    }
    if (patch.fixtures.empty()) return Refusal{line_of(*fixtures), "no [[fixture]] in the patch"};
    if (const toml::node* loss = root.get("loss")) {
        if (!loss->as_table()) return Refusal{line_of(*loss), "'loss' must be a table: [loss]"};
        if (auto r = read_loss(*loss->as_table(), patch.loss)) return r;
    }
    if (const toml::node* bus = root.get("bus"))
        if (auto r = read_bus(*bus, patch.bus)) return r;
    if (const toml::node* http = root.get("http"))
        if (auto r = read_http(*http, patch.http)) return r;
    if (auto r = check_overlaps(patch.fixtures)) return r;
    return read_groups(root, patch);
}

}  // namespace

PatchResult parse_patch(std::string_view text, const std::string& name) {
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& e) {
        return {std::nullopt, name + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description())};
    }
    Patch patch;
    if (auto r = read_root(root, patch)) return {std::nullopt, name + ":" + std::to_string(r->line) + ": " + r->reason};
    return {std::move(patch), {}};
}

PatchResult read_patch(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {std::nullopt, path + ": cannot be read"};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return {std::nullopt, path + ": cannot be read"};
    return parse_patch(text.str(), path);
}

}  // namespace tivgate
