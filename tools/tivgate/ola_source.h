// The DMX source: a connection to olad registered for one universe, run by
// the event loop's select server, on its thread alone.
//
//   waiting      the retry timer runs; olad is tried when it fires
//   connecting   a TCP connect is under way
//   registering  connected; olad has been asked for the universe
//   up           registered: frames of the universe arrive
//
// One retry timer, cancelled before it is armed again, so no path can leave
// two. Every teardown is deferred out of OLA's own callbacks (a reply, a
// hang-up), which are still running when they ask for it. A universe asked
// for while a registration is on its way is registered once that reply is in.
// When olad goes away the bus keeps its last look; olad is tried again with
// backoff, and an outage is told once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include <ola/Callback.h>
#include <ola/client/OlaClient.h>
#include <ola/io/SelectServer.h>
#include <ola/network/TCPConnector.h>
#include <ola/network/TCPSocket.h>

#include "tools/tivgate/log.h"

namespace tivgate {

using DmxHandler = std::function<void(unsigned universe, std::span<const uint8_t> slots)>;

class OlaSource {
public:
    enum class State { waiting, connecting, registering, up };

    OlaSource(ola::io::SelectServer& ss, ola::network::IPV4SocketAddress server, unsigned universe, DmxHandler on_dmx,
              std::function<void()> on_state);
    ~OlaSource();
    OlaSource(const OlaSource&) = delete;
    OlaSource& operator=(const OlaSource&) = delete;

    void start();
    // Registers for `universe` in place of the one before (after a reload).
    void set_universe(unsigned universe);
    State state() const { return state_; }
    unsigned universe() const { return universe_; }

private:
    void enter(State state);
    void connect();
    void connected(int fd, int error);
    void ask_for(unsigned universe);
    void registered(unsigned universe, const ola::client::Result& result);
    void unregistered(const ola::client::Result& result);
    void closed();
    void dmx(const ola::client::DMXMetadata& meta, const ola::DmxBuffer& data);
    // From inside OLA's callbacks: the connection goes at the next turn of
    // the loop, and olad is tried again after the backoff.
    void fail_later();
    void drop_connection();
    void retry_later();

    ola::io::SelectServer& ss_;
    const ola::network::IPV4SocketAddress server_;
    unsigned universe_;            // the one wanted
    unsigned asked_ = 0;           // the one the registration in flight or in force is for
    const DmxHandler on_dmx_;
    const std::function<void()> on_state_;
    State state_ = State::waiting;
    ola::network::TCPConnector connector_;
    std::unique_ptr<ola::network::TCPSocket> socket_;
    std::unique_ptr<ola::client::OlaClient> client_;
    ola::SingleUseCallback0<void>* close_callback_ = nullptr;  // ours until it runs
    bool dropping_ = false;  // our own hang-up, not olad's
    ola::thread::timeout_id retry_ = ola::thread::INVALID_TIMEOUT;
    std::chrono::milliseconds backoff_;
    bool was_up_ = false;
    bool moving_ = false;  // registering for a new universe on a connection that was up
    RepeatedFailure trouble_;
};

}  // namespace tivgate
