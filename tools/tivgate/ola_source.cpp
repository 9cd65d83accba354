#include "tools/tivgate/ola_source.h"

#include <ola/DmxBuffer.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace tivgate {

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kFirstBackoff = 250ms;
constexpr std::chrono::milliseconds kMaxBackoff = 8s;
constexpr std::chrono::milliseconds kConnectTimeout = 2s;

ola::TimeInterval interval(std::chrono::milliseconds ms) {
    return ola::TimeInterval((int32_t)(ms.count() / 1000), (int32_t)(ms.count() % 1000) * 1000);
}

}  // namespace

OlaSource::OlaSource(ola::io::SelectServer& ss, ola::network::IPV4SocketAddress server, unsigned universe,
                     DmxHandler on_dmx, std::function<void()> on_state)
    : ss_(ss), server_(server), universe_(universe), on_dmx_(std::move(on_dmx)), on_state_(std::move(on_state)),
      connector_(&ss), backoff_(kFirstBackoff), trouble_("olad at " + server.ToString()) {}

OlaSource::~OlaSource() {
    if (retry_ != ola::thread::INVALID_TIMEOUT) ss_.RemoveTimeout(retry_);
    connector_.CancelAll();
    drop_connection();
}

void OlaSource::enter(State state) {
    if (state_ == state) return;
    state_ = state;
    on_state_();
}

void OlaSource::start() { connect(); }

void OlaSource::connect() {
    retry_ = ola::thread::INVALID_TIMEOUT;
    drop_connection();  // a connection failed in a callback went at the turn before
    enter(State::connecting);
    connector_.Connect(server_, interval(kConnectTimeout), ola::NewSingleCallback(this, &OlaSource::connected));
}

void OlaSource::connected(int fd, int error) {
    if (fd < 0 || error) {
        if (trouble_.occurred(std::string("not reachable: ") + strerror(error ? error : ECONNREFUSED),
                              std::chrono::steady_clock::now()))
            log_line(Priority::warning, "olad at %s not reachable (%s); retrying with backoff up to %lld s",
                     server_.ToString().c_str(), strerror(error ? error : ECONNREFUSED),
                     (long long)(kMaxBackoff.count() / 1000));
        enter(State::waiting);
        retry_later();
        return;
    }
    socket_ = std::make_unique<ola::network::TCPSocket>(fd);
    socket_->SetNoDelay();
    client_ = std::make_unique<ola::client::OlaClient>(socket_.get());
    if (!client_->Setup()) {
        log_line(Priority::err, "olad at %s: client setup failed", server_.ToString().c_str());
        fail_later();
        return;
    }
    ss_.AddReadDescriptor(socket_.get());
    close_callback_ = ola::NewSingleCallback(this, &OlaSource::closed);
    client_->SetCloseHandler(close_callback_);
    client_->SetDMXCallback(ola::NewCallback(this, &OlaSource::dmx));
    ask_for(universe_);
}

void OlaSource::ask_for(unsigned universe) {
    asked_ = universe;
    enter(State::registering);
    client_->RegisterUniverse(universe, ola::client::REGISTER,
                              ola::NewSingleCallback(this, &OlaSource::registered, universe));
}

void OlaSource::registered(unsigned universe, const ola::client::Result& result) {
    if (state_ != State::registering || universe != asked_) return;  // a reply for a connection gone since
    if (!result.Success()) {
        if (trouble_.occurred("refused universe " + std::to_string(universe) + ": " + result.Error(),
                              std::chrono::steady_clock::now()))
            log_line(Priority::warning, "olad at %s refused universe %u: %s", server_.ToString().c_str(), universe,
                     result.Error().c_str());
        fail_later();
        return;
    }
    if (universe != universe_) {
        // A reload moved on while this was on its way.
        client_->RegisterUniverse(universe, ola::client::UNREGISTER,
                                  ola::NewSingleCallback(this, &OlaSource::unregistered));
        ask_for(universe_);
        return;
    }
    trouble_.ended(std::chrono::steady_clock::now());
    if (moving_) log_line(Priority::info, "olad at %s: now universe %u", server_.ToString().c_str(), universe);
    else if (was_up_) log_line(Priority::notice, "reconnected to olad at %s, universe %u", server_.ToString().c_str(), universe);
    else log_line(Priority::info, "connected to olad at %s, universe %u", server_.ToString().c_str(), universe);
    was_up_ = true;
    moving_ = false;
    backoff_ = kFirstBackoff;
    enter(State::up);
}

void OlaSource::set_universe(unsigned universe) {
    if (universe == universe_) return;
    universe_ = universe;
    // Waiting or connecting: the next registration asks for it. Registering:
    // once the reply for the old one is in.
    if (state_ != State::up) return;
    client_->RegisterUniverse(asked_, ola::client::UNREGISTER, ola::NewSingleCallback(this, &OlaSource::unregistered));
    moving_ = true;
    ask_for(universe);
}

void OlaSource::unregistered(const ola::client::Result& result) {
    // Frames of the old universe are dropped anyway; olad keeps sending them at worst.
    if (!result.Success())
        log_line(Priority::info, "olad at %s: leaving the old universe: %s", server_.ToString().c_str(),
                 result.Error().c_str());
}

void OlaSource::closed() {
    close_callback_ = nullptr;  // a single-use callback: it deletes itself after this run
    if (dropping_) return;
    if (trouble_.occurred("lost", std::chrono::steady_clock::now()))
        log_line(Priority::warning, "lost olad at %s; the bus keeps its last look, reconnecting",
                 server_.ToString().c_str());
    fail_later();
}

void OlaSource::dmx(const ola::client::DMXMetadata& meta, const ola::DmxBuffer& data) {
    if (meta.universe != universe_) return;
    std::array<uint8_t, 512> slots{};
    unsigned length = (unsigned)slots.size();
    data.Get(slots.data(), &length);
    on_dmx_(meta.universe, std::span<const uint8_t>(slots.data(), length));
}

void OlaSource::fail_later() {
    moving_ = false;
    enter(State::waiting);
    ss_.Execute(ola::NewSingleCallback(this, &OlaSource::drop_connection));
    retry_later();
}

void OlaSource::drop_connection() {
    if (!socket_) return;
    dropping_ = true;
    // Before Stop(), which closes the socket: a closed one cannot be found in
    // the poller again, which would then poll a deleted descriptor. After
    // olad's hang-up the poller has let go of it already.
    if (socket_->ValidReadDescriptor()) ss_.RemoveReadDescriptor(socket_.get());
    if (client_) client_->Stop();
    client_.reset();
    socket_.reset();
    // The client never deletes a close handler that did not run.
    delete close_callback_;
    close_callback_ = nullptr;
    dropping_ = false;
}

void OlaSource::retry_later() {
    if (retry_ != ola::thread::INVALID_TIMEOUT) ss_.RemoveTimeout(retry_);
    retry_ = ss_.RegisterSingleTimeout(interval(backoff_), ola::NewSingleCallback(this, &OlaSource::connect));
    backoff_ = std::min(backoff_ * 2, kMaxBackoff);
}

}  // namespace tivgate
