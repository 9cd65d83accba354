// What the control socket's commands do: `status` answers with the status
// JSON, and identify and test put an override (override.h) in force on the
// gateway, moved on by one timer on the event loop until it is over or
// released. One override at a time: a new one takes the place of the last.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <ola/io/SelectServer.h>

#include "tools/tivgate/override.h"
#include "tools/tivgate/status_json.h"

namespace tivgate {

class Control {
public:
    // `changed` is called when an override begins or ends (the status line).
    Control(ola::io::SelectServer& ss, Gateway& gateway, StatusContext context, std::function<void()> changed);
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // The answer to one line: one line of JSON.
    std::string answer(std::string_view line);
    // Ends the override in hand, if any, with `why` in the log.
    void end(const char* why);

private:
    std::string start(const tivtools::ControlCommand& command);
    void apply(Clock::time_point now);
    void due();
    void disarm();  // the one timer, before it is armed again or the override ends
    std::string override_answer(Clock::time_point now) const;

    ola::io::SelectServer& ss_;
    Gateway& gateway_;
    const StatusContext context_;
    const std::function<void()> changed_;
    std::optional<Override> override_;
    std::string asked_;  // the line that asked for it, for the log
    ola::thread::timeout_id timer_ = ola::thread::INVALID_TIMEOUT;
};

}  // namespace tivgate
