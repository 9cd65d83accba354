// The DMX source: a connection to olad registered for one universe, on a
// thread of its own that runs OLA's select server. When olad goes away it
// reconnects with backoff; the bus keeps its last look meanwhile.
//
// Threads: start(), stop(), set_universe() and connected() come from the main
// thread; every other member but the atomics is touched only by the select
// server's thread (OLA's rule), which ends before stop() returns; a universe
// change reaches it through the server's Execute(). DMX leaves through the
// callback, on that thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include <ola/Callback.h>
#include <ola/client/OlaClient.h>
#include <ola/io/SelectServer.h>
#include <ola/network/TCPConnector.h>
#include <ola/network/TCPSocket.h>

namespace tivgate {

using DmxHandler = std::function<void(unsigned universe, std::span<const uint8_t> slots)>;

class OlaSource {
public:
    OlaSource(ola::network::IPV4SocketAddress server, unsigned universe, DmxHandler on_dmx);
    ~OlaSource();
    OlaSource(const OlaSource&) = delete;
    OlaSource& operator=(const OlaSource&) = delete;

    void start();
    void stop();  // bounded: the select server leaves its loop within one turn
    // Registers for `universe` in place of the one before (after a reload).
    void set_universe(unsigned universe);
    // Registered with olad for the universe.
    bool connected() const { return connected_; }

private:
    void connect();
    void connected(int fd, int error);
    void closed();
    void registered(const ola::client::Result& result);
    void move_to(unsigned universe);
    void unregistered(const ola::client::Result& result);
    void dmx(const ola::client::DMXMetadata& meta, const ola::DmxBuffer& data);
    void drop_connection();
    void retry_later();

    const ola::network::IPV4SocketAddress server_;
    unsigned universe_;
    const DmxHandler on_dmx_;
    ola::io::SelectServer ss_;
    ola::network::TCPConnector connector_;
    std::unique_ptr<ola::network::TCPSocket> socket_;
    std::unique_ptr<ola::client::OlaClient> client_;
    ola::SingleUseCallback0<void>* close_callback_ = nullptr;  // ours until it runs
    std::chrono::milliseconds backoff_;
    bool was_connected_ = false;
    bool said_unreachable_ = false;
    bool dropping_ = false;  // our own hang-up, not olad's
    std::atomic<bool> stop_requested_{false};  // main thread to source thread
    std::atomic<bool> finished_{false};        // source thread to main thread
    std::atomic<bool> connected_{false};       // source thread to main thread
    bool moving_ = false;                      // registering for a new universe
    std::thread thread_;
};

}  // namespace tivgate
