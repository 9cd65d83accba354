// The status page: one HTML document with its style and script inside, so
// that it needs nothing from outside the gateway. Its script polls
// /status.json twice a second and redraws from it.
#pragma once

#include <string>

namespace tivgate {

const std::string& page_html();

}  // namespace tivgate
