// The control socket's connections, on the event loop's select server (no
// thread of its own): a line of text in, one line of JSON out, for as many
// lines as a client sends. Everything a client can make us hold is bounded:
//
//   - a line is at most kLineMax bytes; a longer one gets one error line and
//     the connection is closed;
//   - lines are answered one at a time, the next only once the answer to
//     the one before is out, so a client that sends and never reads holds
//     one answer;
//   - at most kClients connections; the next one drops the oldest;
//   - a client gone mid-line leaves nothing done: only whole lines count.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include <ola/io/Descriptor.h>
#include <ola/io/SelectServer.h>

#include "tools/tivgate/unix_listener.h"

namespace tivgate {

class ControlSocket {
public:
    static constexpr size_t kLineMax = 256;
    static constexpr size_t kClients = 8;
    // The answer to one line (without its "\n"), itself one line without "\n".
    using Answer = std::function<std::string(std::string_view line)>;

    ControlSocket(ola::io::SelectServer& ss, UnixListener listener, Answer answer);
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

private:
    struct Client {
        explicit Client(int fd) : fd(fd), descriptor(fd) {}
        int fd;
        ola::io::UnmanagedFileDescriptor descriptor;
        std::string in;            // what came after the last whole line
        std::string out;           // the answer not yet written
        bool closing = false;      // closed once `out` is written
        bool reading = false, writing = false;  // registered with the select server
    };
    using Clients = std::list<std::unique_ptr<Client>>;

    void accept_all();
    void readable(Client* c);
    void serve(Client* c);
    bool flush(Client& c);
    void watch(Client& c, bool read, bool write);
    void drop(Client& c);
    void bury();

    ola::io::SelectServer& ss_;
    UnixListener listener_;
    ola::io::UnmanagedFileDescriptor listening_;
    const Answer answer_;
    Clients clients_;  // oldest first
    Clients dropped_;  // closed once the select server is out of their callbacks
};

// {"ok":false,"error":"<why>"}
std::string error_answer(const std::string& why);

}  // namespace tivgate
