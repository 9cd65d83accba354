#include "tools/tivgate/http_routes.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "tools/tivgate/metrics.h"
#include "tools/tivgate/page.h"

namespace tivgate {

namespace {

// The host without its port: "[::1]:9011" -> "::1", "localhost:80" -> "localhost".
std::string host_name(std::string_view host) {
    if (!host.empty() && host.front() == '[') return std::string(host.substr(1, host.find(']') - 1));
    std::string name(host.substr(0, host.rfind(':')));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return (char)std::tolower(c); });
    return name;
}

bool names_loopback(std::string_view host) {
    const std::string name = host_name(host);
    in_addr ip{};
    return name == "localhost" || name == "::1" ||
           (inet_pton(AF_INET, name.c_str(), &ip) == 1 && ntohl(ip.s_addr) >> 24 == 127);
}

HttpReply reply(unsigned status, const char* type, std::string body) {
    HttpReply r{status, {{"Content-Type", type}, {"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}},
                std::move(body)};
    return r;
}

HttpReply text(unsigned status, std::string body) { return reply(status, "text/plain; charset=utf-8", std::move(body)); }

}  // namespace

HttpReply respond(const HttpRequest& request, bool loopback, const std::function<Snapshot()>& snapshot,
                  const StatusContext& context) {
    if (request.method != "GET" && request.method != "HEAD") {
        HttpReply r = text(405, "tivgate is read-only: GET and HEAD only\n");
        r.headers.emplace_back("Allow", "GET, HEAD");
        return r;
    }
    if (loopback && request.host && !names_loopback(*request.host))
        return text(403, "tivgate listens on a loopback address here and answers requests for localhost only\n");
    if (request.path == "/") {
        HttpReply r = reply(200, "text/html; charset=utf-8", page_html());
        // Nothing from elsewhere: the page's own script and style, and its poll.
        r.headers.emplace_back("Content-Security-Policy",
                               "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                               "connect-src 'self'; frame-ancestors 'none'");
        return r;
    }
    if (request.path == "/status.json") return reply(200, "application/json", status_json(snapshot(), context) + "\n");
    if (request.path == "/metrics")
        return reply(200, "text/plain; version=0.0.4; charset=utf-8", metrics_text(snapshot(), context.version));
    return text(404, "no such page: tivgate serves /, /status.json and /metrics\n");
}

}  // namespace tivgate
