#pragma once
// Serves a VirtualBus on the master side of a pseudo-terminal, in its own thread, so the real
// CSerialPort (or any serial master) talks to the slave side as to an RS-485 adapter.
//
// Requests are framed by RequestFramer: units a module's raw handler claims first, then Modbus
// frames by their length (function code and byte count), not by silence, so a slow or bursty
// writer is served correctly; bytes that cannot start a frame with a good CRC are dropped one
// at a time until the stream is in step again. The line rate the client set on the slave is
// the rate the bus sees, so a module moved to another baud stops answering until the client
// follows it. Replies are written after the module's turnaround (and any pause a Late fault
// puts inside them).
//
// Usage:
//     RealClock clock; VirtualBus bus(clock); bus.AddModule(1);
//     PtyBusServer server(bus);          // waits on bus.BusClock()
//     if (!server.Start()) ...;          // openpty failed
//     CSerialPort port; port.Open(server.SlavePath(), 9600, 8, 0, 0);
//     server.Stop();                     // bounded; the destructor stops too
//
// The server keeps a descriptor of the slave open (raw), so the slave stays openable by name
// and the master never sees a hang-up between clients.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sim/RequestFramer.h"
#include "sim/VirtualBus.h"

class PtyBusServer {
public:
    explicit PtyBusServer(VirtualBus& bus);
    ~PtyBusServer();
    PtyBusServer(const PtyBusServer&) = delete;
    PtyBusServer& operator=(const PtyBusServer&) = delete;

    // Opens the pty pair and starts serving. False when the pair cannot be made or the
    // server already runs.
    bool Start();
    // The slave's path (/dev/pts/N) while running; empty otherwise.
    std::string SlavePath() const;
    // Stops the thread (within a few tens of ms plus any reply delay still being waited)
    // and closes the pair. Safe to call twice.
    void Stop();
    bool Running() const { return running_; }

    // Modbus frames and raw units served: the bus answered and the reply is written, or no
    // reply is due. A test waits on these instead of waiting for silence.
    std::size_t FramesServed() const { return framesServed_; }
    std::size_t RawServed() const { return rawServed_; }
    // Bytes dropped while resynchronising, and bytes held for the rest of a unit.
    std::size_t BytesDropped() const { return bytesDropped_; }
    std::size_t BytesHeld() const { return bytesHeld_; }

private:
    void Serve();
    void HandleBuffer();
    void Reply(const std::vector<std::uint8_t>& request);
    void Wait(int ms);
    bool WriteAll(std::span<const std::uint8_t> bytes);
    int LineBaud() const;
    void CloseFds();

    VirtualBus& bus_;
    int master_ = -1;
    int slave_ = -1;
    int wake_[2] = {-1, -1};
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::size_t> framesServed_{0};
    std::atomic<std::size_t> rawServed_{0};
    std::atomic<std::size_t> bytesDropped_{0};
    std::atomic<std::size_t> bytesHeld_{0};
    int lineBaud_ = 0;  // read from the slave before each batch of bytes is framed
    RequestFramer framer_;
};
