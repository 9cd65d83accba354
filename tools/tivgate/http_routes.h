// What tivgate answers over HTTP, apart from the server that carries it: a
// request's method, path and Host in; a status, headers and a body out. It
// changes nothing, and reads the gateway's state only for the paths that
// show it, so that a flood of bad requests takes no lock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/tivgate/gateway.h"
#include "tools/tivgate/status_json.h"

namespace tivgate {

struct HttpRequest {
    std::string_view method;
    std::string_view path;                 // decoded, without the query
    std::optional<std::string_view> host;  // the Host header, when sent
};

struct HttpReply {
    unsigned status = 200;
    std::vector<std::pair<std::string, std::string>> headers;  // Content-Type first
    std::string body;  // a HEAD request's too: the server sends only its length
};

// `loopback`: the server listens on a loopback address. It then answers only
// requests that name a loopback host, so that a web page elsewhere cannot
// read the gateway through a name it points at 127.0.0.1.
HttpReply respond(const HttpRequest& request, bool loopback, const std::function<Snapshot()>& snapshot,
                  const StatusContext& context);

}  // namespace tivgate
