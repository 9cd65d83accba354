#include "tools/tivgate/control_socket.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "tools/common/json.h"

namespace tivgate {

std::string error_answer(const std::string& why) {
    return tivtools::Json().open('{').key("ok").boolean(false).key("error").string(why).close('}').take();
}

ControlSocket::ControlSocket(ola::io::SelectServer& ss, UnixListener listener, Answer answer)
    : ss_(ss), listener_(std::move(listener)), listening_(listener_.fd()), answer_(std::move(answer)) {
    listening_.SetOnData(ola::NewCallback(this, &ControlSocket::accept_all));
    ss_.AddReadDescriptor(&listening_);
}

// Out of every callback by now (the event loop drains them first), so
// nothing is left for later.
ControlSocket::~ControlSocket() {
    for (const auto& c : clients_) {
        watch(*c, false, false);
        close(c->fd);
    }
    bury();
    ss_.RemoveReadDescriptor(&listening_);
}

void ControlSocket::accept_all() {
    for (int fd; (fd = listener_.accept()) >= 0;) {
        if (clients_.size() >= kClients) drop(*clients_.front());
        Client& c = *clients_.emplace_back(std::make_unique<Client>(fd));
        c.descriptor.SetOnData(ola::NewCallback(this, &ControlSocket::readable, &c));
        c.descriptor.SetOnWritable(ola::NewCallback(this, &ControlSocket::serve, &c));
        watch(c, true, false);
    }
}

// While reading, `in` holds no whole line and at most kLineMax bytes: one
// more than that is all it takes to tell an over-long line.
void ControlSocket::readable(Client* c) {
    char buf[kLineMax + 1];
    const ssize_t n = recv(c->fd, buf, sizeof buf - c->in.size(), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) return drop(*c);  // gone, and a half line with it
    c->in.append(buf, (size_t)n);
    serve(c);
}

// Answers the whole lines in hand, each once the answer before it is out.
void ControlSocket::serve(Client* c) {
    while (flush(*c)) {
        if (!c->out.empty()) return watch(*c, false, true);
        if (c->closing) return drop(*c);
        const size_t eol = c->in.find('\n');
        if (eol == std::string::npos) {
            if (c->in.size() <= kLineMax) return watch(*c, true, false);
            c->out = error_answer("a line is at most " + std::to_string(kLineMax) + " bytes") + "\n";
            c->closing = true;
            continue;
        }
        c->out = answer_(std::string_view(c->in).substr(0, eol)) + "\n";
        c->in.erase(0, eol + 1);
    }
}

// False when the client is gone.
bool ControlSocket::flush(Client& c) {
    while (!c.out.empty()) {
        const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        if (n < 0) {
            drop(c);
            return false;
        }
        c.out.erase(0, (size_t)n);
    }
    return true;
}

void ControlSocket::watch(Client& c, bool read, bool write) {
    if (read != c.reading) read ? (void)ss_.AddReadDescriptor(&c.descriptor) : ss_.RemoveReadDescriptor(&c.descriptor);
    if (write != c.writing) write ? (void)ss_.AddWriteDescriptor(&c.descriptor) : ss_.RemoveWriteDescriptor(&c.descriptor);
    c.reading = read;
    c.writing = write;
}

// The select server may be inside this client's callback: its descriptor
// leaves the server now, and is closed and freed once the server is out.
void ControlSocket::drop(Client& c) {
    watch(c, false, false);
    const auto it = std::find_if(clients_.begin(), clients_.end(), [&](const auto& p) { return p.get() == &c; });
    if (it == clients_.end()) return;  // dropped already
    if (dropped_.empty()) ss_.Execute(ola::NewSingleCallback(this, &ControlSocket::bury));
    dropped_.splice(dropped_.end(), clients_, it);
}

void ControlSocket::bury() {
    for (const auto& c : dropped_) close(c->fd);
    dropped_.clear();
}

}  // namespace tivgate
