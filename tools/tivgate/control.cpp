#include "tools/tivgate/control.h"

#include "tools/common/json.h"
#include "tools/tivgate/control_socket.h"
#include "tools/tivgate/event_loop.h"
#include "tools/tivgate/log.h"

namespace tivgate {

using tivtools::ControlVerb;

Control::Control(ola::io::SelectServer& ss, Gateway& gateway, StatusContext context, std::function<void()> changed)
    : ss_(ss), gateway_(gateway), context_(std::move(context)), changed_(std::move(changed)) {}

Control::~Control() { disarm(); }

void Control::disarm() {
    if (timer_ != ola::thread::INVALID_TIMEOUT) ss_.RemoveTimeout(timer_);
    timer_ = ola::thread::INVALID_TIMEOUT;
}

std::string Control::answer(std::string_view line) {
    const auto parsed = tivtools::parse_control_line(line);
    if (!parsed) return error_answer(parsed.error);
    const Clock::time_point now = Clock::now();
    switch (parsed.value->verb) {
    case ControlVerb::status: return "{\"ok\":true,\"status\":" + status_json(gateway_.snapshot(now), context_) + "}";
    case ControlVerb::release: end("released"); return override_answer(now);
    default: return start(*parsed.value);
    }
}

std::string Control::start(const tivtools::ControlCommand& command) {
    const Clock::time_point now = Clock::now();
    auto planned = Override::plan(command, *gateway_.patch(), now);
    if (const auto* why = std::get_if<std::string>(&planned)) return error_answer(*why);
    disarm();
    override_.emplace(std::move(std::get<Override>(planned)));
    asked_ = tivtools::control_line(command);
    const auto lasts = std::chrono::duration_cast<std::chrono::seconds>(override_->view(now).ends - now);
    log_line(Priority::notice, "control: %s, for %lld s", asked_.c_str(), (long long)lasts.count());
    apply(now);
    changed_();
    return override_answer(now);
}

// The looks for now, and one timer for the next change or the end.
void Control::apply(Clock::time_point now) {
    gateway_.force(override_->looks(now), override_->view(now), now);
    timer_ = ss_.RegisterSingleTimeout(ola_interval(override_->next(now) - now), ola::NewSingleCallback(this, &Control::due));
}

void Control::due() {
    timer_ = ola::thread::INVALID_TIMEOUT;
    const Clock::time_point now = Clock::now();
    if (override_->over(now)) return end("over");
    apply(now);
}

void Control::end(const char* why) {
    if (!override_) return;
    disarm();
    override_.reset();
    // The overridden fixtures want their DMX looks again, due at once.
    gateway_.force({}, std::nullopt, Clock::now());
    log_line(Priority::notice, "control: %s: %s", asked_.c_str(), why);
    changed_();
}

std::string Control::override_answer(Clock::time_point now) const {
    tivtools::Json j;
    j.open('{').key("ok").boolean(true);
    override_json(j, override_ ? std::optional(override_->view(now)) : std::nullopt, now);
    return j.close('}').take();
}

}  // namespace tivgate
