// The gateway's state as one JSON object: /status.json, the page's data,
// and the control socket's `status` answer. docs/gateway.md lists the fields.
#pragma once

#include <string>

#include "tools/common/json.h"
#include "tools/tivgate/gateway.h"

namespace tivgate {

// What the snapshot does not hold.
struct StatusContext {
    std::string version;  // tivlink's
    std::string olad;     // olad's address, HOST:PORT
    std::string path;     // the line's name as given
};

std::string status_json(const Snapshot& s, const StatusContext& context);

// "override": what the control socket overrides at `now`; null when nothing.
void override_json(tivtools::Json& j, const std::optional<OverrideView>& o, Clock::time_point now);

// "0x010001" for a device, "5" for a group.
std::string address_text(uint32_t address);

// "#RRGGBBWW", as tivctl takes colours.
std::string colour_text(uint32_t colour);

}  // namespace tivgate
