// An override from the control socket: which fixtures show what, instead
// of their DMX, as a function of time. Plain and clock-driven, like the
// bus loop: the event loop puts looks(now) in force (Gateway::force), arms
// one timer at next(now), and ends it (forcing nothing) once over(now).
//
//   identify ADDR        the fixture blinks: white #FFFFFFFF for half a
//                        second, dark for half a second, from the start
//   identify group G     each member the patch declares for G in turn, for
//                        the seconds each, then the group address itself:
//                        every member forced alike goes out as group looks
//   test COLOUR          every fixture shows the colour
//   test chase           every fixture dark but one, white, which moves on
//                        each second in patch order
//
// Fixtures an override leaves alone follow their DMX meanwhile. Every
// override ends by itself, within the hour.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "tools/common/control_command.h"
#include "tools/tivgate/gateway.h"

namespace tivgate {

class Override {
public:
    // What `command` asks for on `patch`, from `now`, or why it cannot be
    // (an address the patch does not have, a group it does not declare).
    static std::variant<Override, std::string> plan(const tivtools::ControlCommand& command, const Patch& patch,
                                                    Clock::time_point now);

    // The forced look of each fixture of the patch; none: its DMX.
    std::vector<std::optional<Look>> looks(Clock::time_point now) const;
    // When looks() may next differ, or the end.
    Clock::time_point next(Clock::time_point now) const;
    bool over(Clock::time_point now) const { return now >= ends_; }
    OverrideView view(Clock::time_point now) const;

private:
    // The fixture (or fixtures) whose turn it is; all for a group's last turn.
    std::vector<size_t> turn(Clock::time_point now) const;

    tivtools::ControlVerb verb_ = tivtools::ControlVerb::identify;
    std::vector<size_t> walk_;        // identify: the fixture; group: its members; chase: every fixture
    std::vector<uint32_t> address_;   // of each fixture of the patch
    size_t fixtures_ = 0;
    Look colour_{};                   // test
    std::string target_;
    Clock::duration step_{};          // of each turn
    Clock::time_point start_{}, ends_{};
};

}  // namespace tivgate
