#pragma once
// Serves the bus of a PtyBusServer over raw TCP as well, for training and tests without a
// serial device server: a client's bytes go to the bus through the pseudo-terminal's slave,
// as a serial master's would, and what the bus answers goes back to the client unchanged.
// One client at a time: a new connection takes the place of the one before (whose
// master may have given it up without saying so). The relay's thread waits in poll().
//
//     TcpBusRelay relay(server.SlavePath(), 9600);
//     std::string error;
//     if (!relay.Start("127.0.0.1", 0, error)) ...;  // 0: any free port, see Port()
//     relay.Stop();                                  // bounded; the destructor stops too

#include <atomic>
#include <string>
#include <thread>

class TcpBusRelay {
public:
    // `baud` is set on the slave: the rate the bus sees for every client.
    TcpBusRelay(std::string slavePath, int baud);
    ~TcpBusRelay();
    TcpBusRelay(const TcpBusRelay&) = delete;
    TcpBusRelay& operator=(const TcpBusRelay&) = delete;

    // Listens on host:port (IPv4 or IPv6 literal, or a name) and starts serving; false with
    // `error` set when the slave cannot be opened or the address cannot be bound.
    bool Start(const std::string& host, int port, std::string& error);
    // The port listened on (the one chosen when 0 was asked); 0 before Start.
    int Port() const { return port_; }
    void Stop();

private:
    void Serve();
    void DropClient();

    std::string slavePath_;
    int baud_;
    int slave_ = -1;
    int listen_ = -1;
    int client_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
