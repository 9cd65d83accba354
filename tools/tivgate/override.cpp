#include "tools/tivgate/override.h"

#include <algorithm>

#include "tools/tivgate/status_json.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;
using tivtools::ControlVerb;

constexpr Clock::duration kBlinkHalf = 500ms;  // 1 Hz
constexpr Clock::duration kChaseStep = 1s;
constexpr Look kWhite{0xFFFFFFFF, 0};
constexpr Look kDark{0x00000000, 0};

// Steps of `step` since `start`, whole ones.
int64_t steps(Clock::time_point start, Clock::time_point now, Clock::duration step) {
    return std::max<int64_t>(0, (now - start) / step);
}

std::optional<size_t> fixture_at(const Patch& patch, uint32_t address) {
    for (size_t i = 0; i < patch.fixtures.size(); i++)
        if (patch.fixtures[i].address == address) return i;
    return std::nullopt;
}

const Group* declared(const Patch& patch, uint32_t address) {
    for (const Group& g : patch.groups)
        if (g.address == address) return &g;
    return nullptr;
}

// The fixtures `command` walks through, or why there are none.
std::variant<std::vector<size_t>, std::string> walk_for(const tivtools::ControlCommand& c, const Patch& patch) {
    const std::string name = address_text(c.target);
    if (c.verb == ControlVerb::identify) {
        if (const std::optional<size_t> i = fixture_at(patch, c.target)) return std::vector<size_t>{*i};
        if (declared(patch, c.target)) return "group " + name + " is declared, not patched: identify group " + name;
        return name + " is not in the patch";
    }
    if (c.verb == ControlVerb::identify_group) {
        if (const Group* g = declared(patch, c.target)) return g->members;
        if (fixture_at(patch, c.target)) return "group " + name + " is patched as a fixture, not declared: identify " + name;
        return "group " + name + " has no [[group]] in the patch";
    }
    std::vector<size_t> all(patch.fixtures.size());
    for (size_t i = 0; i < all.size(); i++) all[i] = i;
    return all;
}

}  // namespace

std::variant<Override, std::string> Override::plan(const tivtools::ControlCommand& c, const Patch& patch,
                                                   Clock::time_point now) {
    auto walk = walk_for(c, patch);
    if (auto* why = std::get_if<std::string>(&walk)) return *why;
    Override o;
    o.verb_ = c.verb;
    o.walk_ = std::move(std::get<std::vector<size_t>>(walk));
    o.fixtures_ = patch.fixtures.size();
    for (const Fixture& f : patch.fixtures) o.address_.push_back(f.address);
    o.colour_ = Look{c.target, 0};
    o.start_ = now;
    const auto seconds = std::chrono::seconds(c.seconds.value_or(tivtools::kOverrideSecondsDefault));
    switch (c.verb) {
    case ControlVerb::identify_group:
        o.target_ = "group " + std::to_string(c.target);
        o.step_ = seconds;  // each member's turn, then the group's
        o.ends_ = now + seconds * (int64_t)(o.walk_.size() + 1);
        break;
    case ControlVerb::chase:
        o.target_ = "every fixture";
        o.step_ = kChaseStep;
        // Unasked, long enough to walk the whole patch once.
        o.ends_ = now + (c.seconds ? seconds : std::max<Clock::duration>(seconds, kChaseStep * (int64_t)o.fixtures_));
        break;
    default:
        o.target_ = c.verb == ControlVerb::test ? colour_text(c.target) : address_text(c.target);
        o.step_ = seconds;
        o.ends_ = now + seconds;
    }
    return o;
}

std::vector<size_t> Override::turn(Clock::time_point now) const {
    const size_t k = (size_t)steps(start_, now, step_);
    if (verb_ == ControlVerb::chase) return {walk_[k % walk_.size()]};
    if (verb_ == ControlVerb::identify_group && k >= walk_.size()) return walk_;
    return {walk_[std::min(k, walk_.size() - 1)]};
}

std::vector<std::optional<Look>> Override::looks(Clock::time_point now) const {
    std::vector<std::optional<Look>> out(fixtures_);
    if (over(now)) return out;
    if (verb_ == ControlVerb::test) {
        std::fill(out.begin(), out.end(), colour_);
        return out;
    }
    Look lit = kWhite;
    if (verb_ == ControlVerb::chase) std::fill(out.begin(), out.end(), kDark);
    else lit = steps(start_, now, kBlinkHalf) % 2 ? kDark : kWhite;
    for (size_t i : turn(now)) out[i] = lit;
    return out;
}

Clock::time_point Override::next(Clock::time_point now) const {
    if (verb_ == ControlVerb::test) return ends_;
    const Clock::duration tick = verb_ == ControlVerb::chase ? kChaseStep : kBlinkHalf;
    return std::min(ends_, start_ + tick * (steps(start_, now, tick) + 1));
}

OverrideView Override::view(Clock::time_point now) const {
    const char* kind = verb_ == ControlVerb::test ? "test" : verb_ == ControlVerb::chase ? "chase" : "identify";
    std::string on;
    const size_t k = (size_t)steps(start_, now, step_);
    if (verb_ == ControlVerb::chase) on = address_text(address_[turn(now).front()]);
    if (verb_ == ControlVerb::identify_group) on = k < walk_.size() ? address_text(address_[walk_[k]]) : target_;
    return {kind, target_, on, ends_};
}

}  // namespace tivgate
