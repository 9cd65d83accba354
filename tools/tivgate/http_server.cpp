#include "tools/tivgate/http_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/tivgate/http_routes.h"
#include "tools/tivgate/listen_address.h"
#include "tools/tivgate/log.h"

namespace tivgate {

struct HttpServer::Site {
    const Gateway& gateway;
    const StatusContext& context;
    bool loopback;
};

namespace {

// Bounds on what a client may take: a request line and headers fit in a
// connection's 16 KiB (a longer one is refused), a connection quiet for 10 s
// is closed, and at most 32 are open at once, 16 of them from one address
// (all local clients share 127.0.0.1: a browser opens up to six).
constexpr size_t kConnectionMemory = 16 * 1024;
constexpr unsigned kConnectionTimeoutS = 10;
constexpr unsigned kConnections = 32;
constexpr unsigned kConnectionsPerAddress = 16;
constexpr int kBacklog = 16;

MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t*, void** request_state) {
    const auto& site = *static_cast<const HttpServer::Site*>(cls);
    // A reply queued on the first call, with the headers, makes the server
    // close the connection after it: right for a refused method, whose body
    // is not worth reading, but a GET or HEAD waits for its (empty) body, so
    // that a browser's poll and a scrape keep their connection.
    static char headers_seen;
    const std::string_view m(method);
    if (!*request_state && (m == "GET" || m == "HEAD")) {
        *request_state = &headers_seen;
        return MHD_YES;
    }
    try {
        const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
        const HttpReply r = respond({method, url, host ? std::optional<std::string_view>(host) : std::nullopt},
                                    site.loopback, [&] { return site.gateway.snapshot(Clock::now()); }, site.context);
        MHD_Response* response =
            MHD_create_response_from_buffer(r.body.size(), (void*)r.body.data(), MHD_RESPMEM_MUST_COPY);
        if (!response) return MHD_NO;
        for (const auto& [name, value] : r.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, r.status, response);
        MHD_destroy_response(response);
        return queued;
    } catch (const std::exception&) {
        return MHD_NO;  // out of memory: the connection closes, the gateway goes on
    }
}

// A listening socket of our own, so that a refusal comes with its reason.
int open_listener(const ListenAddress& a) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a restart finds the port free at once
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(a.port);
    sa.sin_addr.s_addr = htonl(a.ip);
    if (bind(fd, (const sockaddr*)&sa, sizeof sa) != 0 || ::listen(fd, kBacklog) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

HttpServer::HttpServer(const Gateway& gateway, StatusContext context)
    : gateway_(gateway), context_(std::move(context)) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::stop() {
    if (daemon_) MHD_stop_daemon(daemon_);  // joins its thread and closes its sockets
    daemon_ = nullptr;
    site_.reset();
    address_.clear();
}

// Serves on `address` in place of the running server, which stops only
// once the new one runs. Empty on success, else why not.
std::string HttpServer::start(const std::string& address) {
    const auto where = parse_listen(address);
    if (!where) return where.error;
    const int fd = open_listener(*where.value);
    if (fd < 0) return std::strerror(errno);
    auto site = std::make_unique<const Site>(Site{gateway_, context_, where.value->loopback()});
    MHD_Daemon* daemon = MHD_start_daemon(
        MHD_USE_AUTO_INTERNAL_THREAD, 0, nullptr, nullptr, &answer, (void*)site.get(), MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutS,
        MHD_OPTION_CONNECTION_LIMIT, kConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
        MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_END);
    if (!daemon) {
        close(fd);
        return "the HTTP server did not start";
    }
    stop();
    daemon_ = daemon;
    site_ = std::move(site);
    address_ = address;
    return {};
}

void HttpServer::listen(const std::string& address) {
    if (address == address_) return;
    const std::string old = address_;
    if (address.empty()) {
        stop();
        log_line(Priority::info, "status page off (it was on http://%s/)", old.c_str());
        return;
    }
    std::string error = start(address);
    if (!error.empty() && !old.empty() && error == std::strerror(EADDRINUSE)) {
        // The running server may hold the port itself (127.0.0.1:9011 to
        // 0.0.0.0:9011): it lets go, and comes back if that was not it.
        stop();
        error = start(address);
        if (!error.empty() && !start(old).empty()) {
            log_line(Priority::err, "status page: cannot listen on %s: %s; nor on %s again: it is off", address.c_str(),
                     error.c_str(), old.c_str());
            return;
        }
    }
    if (error.empty()) log_line(Priority::info, "status page on http://%s/", address_.c_str());
    else log_line(Priority::err, "status page: cannot listen on %s: %s%s", address.c_str(), error.c_str(),
                  old.empty() ? "" : ("; it stays on http://" + old + "/").c_str());
}

}  // namespace tivgate
