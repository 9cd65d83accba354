// The control socket's overrides on a fake clock: who shows what when, when
// the next change comes, what the status says, and what is refused.
#include "tools/tivgate/override.h"

#include <gtest/gtest.h>

namespace tivgate {
namespace {

using namespace std::chrono_literals;

const Clock::time_point t0 = Clock::time_point{} + 1h;

// A device, a patched group, and two devices declared as group 2.
Patch rig() {
    Patch p;
    p.universe = 1;
    p.fixtures = {{0x010001, 1, FixtureMode::rgbw, 0}, {5, 5, FixtureMode::rgbw_fade, 0},
                  {0x010002, 10, FixtureMode::rgbw, 0}, {0x010003, 14, FixtureMode::rgbw, 0}};
    p.groups = {{2, {2, 3}, 0}};
    return p;
}

// One letter a fixture: W white, D dark, C #11223344, . its DMX.
std::string shown(const std::vector<std::optional<Look>>& looks) {
    std::string s;
    for (const auto& l : looks)
        s += !l ? '.' : l->colour == 0xFFFFFFFF ? 'W' : l->colour == 0 ? 'D' : l->colour == 0x11223344 ? 'C' : '?';
    return s;
}

TEST(Override, WhoShowsWhatWhenAndWhatIsRefused) {
    const struct {
        const char* command;
        Clock::duration at;
        std::string looks;  // or the refusal
        Clock::duration next;
        std::string now;  // the status's "now"
    } cases[] = {
        {"identify 0x010001 2", 0ms, "W...", 500ms, ""},
        {"identify 0x010001 2", 700ms, "D...", 1000ms, ""},
        {"identify 0x010001 2", 1999ms, "D...", 2000ms, ""},
        {"identify 0x010001 2", 2000ms, "....", 2000ms, ""},  // over: DMX again
        {"identify 5", 9600ms, ".D..", 10000ms, ""},
        {"identify group 2 1", 200ms, "..W.", 500ms, "0x010002"},
        {"identify group 2 1", 1200ms, "...W", 1500ms, "0x010003"},
        {"identify group 2 1", 2600ms, "..DD", 3000ms, "group 2"},  // the group address itself
        {"identify group 2 1", 3000ms, "....", 3000ms, "group 2"},
        {"test #11223344 5", 4000ms, "CCCC", 5000ms, ""},
        {"test chase", 1500ms, "DWDD", 2000ms, "5"},
        {"test chase", 9500ms, "DWDD", 10000ms, "5"},  // unasked: 10 s, enough for 4 fixtures
        {"test chase 2", 1000ms, "DWDD", 2000ms, "5"},
        {"identify 0x010009", 0ms, "0x010009 is not in the patch", 0ms, ""},
        {"identify 2", 0ms, "group 2 is declared, not patched: identify group 2", 0ms, ""},
        {"identify group 5", 0ms, "group 5 is patched as a fixture, not declared: identify 5", 0ms, ""},
        {"identify group 7", 0ms, "group 7 has no [[group]] in the patch", 0ms, ""},
    };
    const Patch patch = rig();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " at " + std::to_string(c.at / 1ms) + " ms");
        auto planned = Override::plan(*tivtools::parse_control_line(c.command).value, patch, t0);
        if (auto* why = std::get_if<std::string>(&planned)) {
            EXPECT_EQ(*why, c.looks);
            continue;
        }
        const Override& o = std::get<Override>(planned);
        EXPECT_EQ(shown(o.looks(t0 + c.at)), c.looks);
        EXPECT_EQ(o.next(t0 + c.at), t0 + c.next);
        EXPECT_EQ(o.view(t0 + c.at).now, c.now);
    }
}

}  // namespace
}  // namespace tivgate
