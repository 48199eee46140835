#pragma once
// Serves a VirtualBus over raw TCP, beside (or instead of) its pseudo-terminal, for training
// and tests without a serial device server: a client's bytes are framed as PtyBusServer
// frames them and the bus's replies go back unchanged, after the module's turnaround. The
// line rate is fixed (raw TCP cannot set one), as on a device server's configured port.
// One client at a time: a new connection takes the place of the one before, whose master
// may have given it up without saying so.
//
//     TcpBusServer server(bus, 9600);
//     std::string error;
//     if (!server.Start("127.0.0.1", 0, error)) ...;  // 0: any free port, see Port()
//     server.Stop();                                   // bounded; the destructor stops too

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/RequestFramer.h"
#include "sim/VirtualBus.h"

class TcpBusServer {
public:
    TcpBusServer(VirtualBus& bus, int baud);
    ~TcpBusServer();
    TcpBusServer(const TcpBusServer&) = delete;
    TcpBusServer& operator=(const TcpBusServer&) = delete;

    // Listens on host:port (an address or a name) and starts serving; false with `error`
    // set when the address cannot be bound.
    bool Start(const std::string& host, int port, std::string& error);
    // The port listened on (the one chosen when 0 was asked); 0 before Start.
    int Port() const { return port_; }
    void Stop();

private:
    void Serve();
    void Reply(const std::vector<std::uint8_t>& request);
    void Wait(int ms);
    bool SendAll(std::span<const std::uint8_t> bytes);
    void DropClient();
    void CloseFds();

    VirtualBus& bus_;
    int baud_;
    int listen_ = -1;
    int client_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stop_{false};
    RequestFramer framer_;
    std::thread thread_;
};
