// The HTTP server: libmicrohttpd on a thread of its own, answering with
// respond() (http_routes.h). Threads: listen() and the destructor run on the
// main thread, which alone owns the daemon; the server's thread reads the
// gateway through snapshot(), a copy taken under its lock, and its Site,
// which does not change while that daemon runs. It never calls the library.
#pragma once

#include <memory>
#include <string>

#include "tools/tivgate/gateway.h"
#include "tools/tivgate/status_json.h"

struct MHD_Daemon;

namespace tivgate {

class HttpServer {
public:
    HttpServer(const Gateway& gateway, StatusContext context);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Serves on `address` (ADDR:PORT; "": nowhere), moving from where it
    // served. When the new address cannot be had, the old one keeps
    // serving and the log says why.
    void listen(const std::string& address);

    struct Site;

private:
    std::string start(const std::string& address);
    void stop();

    const Gateway& gateway_;
    const StatusContext context_;
    std::string address_;  // where it serves; "": nowhere
    MHD_Daemon* daemon_ = nullptr;
    std::unique_ptr<const Site> site_;  // the running daemon's
};

}  // namespace tivgate
