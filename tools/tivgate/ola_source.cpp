#include "tools/tivgate/ola_source.h"

#include <ola/Callback.h>
#include <ola/DmxBuffer.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "tools/tivgate/log.h"

namespace tivgate {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstBackoff = 250ms;
constexpr std::chrono::milliseconds kMaxBackoff = 8s;
constexpr unsigned kConnectTimeoutMs = 2000;

// select() rebuilds its sets every turn; the epoll poller kept a stale entry
// for the descriptor of a connection olad had closed, and the next socket,
// given the same number, could not be watched.
ola::io::SelectServer::Options select_options() {
    ola::io::SelectServer::Options o;
    o.force_select = true;
    return o;
}

ola::TimeInterval interval(std::chrono::milliseconds ms) {
    return ola::TimeInterval((int32_t)(ms.count() / 1000), (int32_t)(ms.count() % 1000) * 1000);
}

}  // namespace

OlaSource::OlaSource(ola::network::IPV4SocketAddress server, unsigned universe, DmxHandler on_dmx)
    : server_(server), universe_(universe), on_dmx_(std::move(on_dmx)), ss_(select_options()), connector_(&ss_),
      backoff_(kFirstBackoff) {}

OlaSource::~OlaSource() { stop(); }

void OlaSource::start() {
    ss_.Execute(ola::NewSingleCallback(this, &OlaSource::connect));
    thread_ = std::thread([this] {
        if (!stop_requested_) ss_.Run();
        // Still on this thread, so OLA's objects go down where they lived.
        connector_.CancelAll();
        drop_connection();
        finished_ = true;
    });
}

void OlaSource::stop() {
    if (!thread_.joinable()) return;
    stop_requested_ = true;
    // Terminate() is lost on a select server that has not entered Run() yet,
    // so it is repeated until the thread is out.
    while (!finished_) {
        ss_.Terminate();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    thread_.join();
}

void OlaSource::connect() {
    connector_.Connect(server_, interval(std::chrono::milliseconds(kConnectTimeoutMs)),
                       ola::NewSingleCallback(this, &OlaSource::connected));
}

void OlaSource::connected(int fd, int error) {
    if (fd < 0 || error) {
        if (!said_unreachable_)
            log_line("olad at %s not reachable (%s); retrying with backoff up to %lld s", server_.ToString().c_str(),
                     strerror(error ? error : ECONNREFUSED), (long long)(kMaxBackoff.count() / 1000));
        said_unreachable_ = true;
        retry_later();
        return;
    }
    socket_ = std::make_unique<ola::network::TCPSocket>(fd);
    socket_->SetNoDelay();
    client_ = std::make_unique<ola::client::OlaClient>(socket_.get());
    if (!client_->Setup()) {
        log_line("olad at %s: client setup failed", server_.ToString().c_str());
        drop_connection();
        retry_later();
        return;
    }
    ss_.AddReadDescriptor(socket_.get());
    close_callback_ = ola::NewSingleCallback(this, &OlaSource::closed);
    client_->SetCloseHandler(close_callback_);
    client_->SetDMXCallback(ola::NewCallback(this, &OlaSource::dmx));
    client_->RegisterUniverse(universe_, ola::client::REGISTER,
                              ola::NewSingleCallback(this, &OlaSource::registered));
}

void OlaSource::registered(const ola::client::Result& result) {
    if (!result.Success()) {
        log_line("olad at %s refused universe %u: %s", server_.ToString().c_str(), universe_, result.Error().c_str());
        drop_connection();
        retry_later();
        return;
    }
    if (moving_) log_line("olad at %s: now universe %u", server_.ToString().c_str(), universe_);
    else log_line("%s olad at %s, universe %u", was_connected_ ? "reconnected to" : "connected to",
                  server_.ToString().c_str(), universe_);
    moving_ = false;
    was_connected_ = true;
    connected_ = true;
    said_unreachable_ = false;
    backoff_ = kFirstBackoff;
}

void OlaSource::set_universe(unsigned universe) {
    ss_.Execute(ola::NewSingleCallback(this, &OlaSource::move_to, universe));
}

void OlaSource::move_to(unsigned universe) {
    if (universe == universe_) return;
    const unsigned old = universe_;
    universe_ = universe;
    if (!connected_) return;  // the next registration asks for the new one
    moving_ = true;
    client_->RegisterUniverse(old, ola::client::UNREGISTER, ola::NewSingleCallback(this, &OlaSource::unregistered));
    client_->RegisterUniverse(universe_, ola::client::REGISTER, ola::NewSingleCallback(this, &OlaSource::registered));
}

void OlaSource::unregistered(const ola::client::Result& result) {
    // Frames of the old universe are dropped anyway; olad keeps sending them at worst.
    if (!result.Success()) log_line("olad at %s: leaving the old universe: %s", server_.ToString().c_str(),
                                    result.Error().c_str());
}

void OlaSource::closed() {
    close_callback_ = nullptr;  // a single-use callback: it deletes itself after this run
    connected_ = false;
    if (dropping_) return;
    log_line("lost olad at %s; the bus keeps its last look, reconnecting", server_.ToString().c_str());
    // The client is inside its own callback here: let it return first.
    ss_.Execute(ola::NewSingleCallback(this, &OlaSource::drop_connection));
    ss_.Execute(ola::NewSingleCallback(this, &OlaSource::retry_later));
}

void OlaSource::dmx(const ola::client::DMXMetadata& meta, const ola::DmxBuffer& data) {
    if (meta.universe != universe_) return;
    std::array<uint8_t, 512> slots{};
    unsigned length = (unsigned)slots.size();
    data.Get(slots.data(), &length);
    on_dmx_(meta.universe, std::span<const uint8_t>(slots.data(), length));
}

void OlaSource::drop_connection() {
    connected_ = false;
    moving_ = false;
    if (!socket_) return;
    dropping_ = true;
    if (client_) client_->Stop();
    // After olad's hang-up the poller has let go of the socket already.
    if (socket_->ValidReadDescriptor()) ss_.RemoveReadDescriptor(socket_.get());
    client_.reset();
    socket_.reset();
    // The client never deletes a close handler that did not run.
    delete close_callback_;
    close_callback_ = nullptr;
    dropping_ = false;
}

void OlaSource::retry_later() {
    ss_.RegisterSingleTimeout(interval(backoff_), ola::NewSingleCallback(this, &OlaSource::connect));
    backoff_ = std::min(backoff_ * 2, kMaxBackoff);
}

}  // namespace tivgate
