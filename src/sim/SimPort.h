#pragma once
// An in-memory CCommPort onto a VirtualBus, timed by a Clock. A written request reaches
// the bus at once; its reply becomes readable only once the clock has passed the module's
// turnaround plus the wire time of request and reply (10 bits a byte at the baud rate).
// Write purges first, so a reply not yet read is discarded, as on the serial port.
//
// Usage:
//     VirtualClock clock; VirtualBus bus(clock); bus.AddModule(1);
//     SimPort port(bus, clock);
//     port.Open(9600);
//     std::uint8_t req[8]; int n = TheModbusRtu().BuildReadRegisters(req, 1, 0, 10);
//     port.Write({req, std::size_t(n)});
//     clock.sleep(200);                       // or advance the clock some other way
//     std::uint8_t rx[200]; port.Read(rx);    // the 25-byte reply
// Not thread-safe: one user at a time, like the serial port's callers.

#include <cstdint>
#include <span>
#include <vector>

#include "link/Clock.h"
#include "link/CommPort.h"
#include "sim/VirtualBus.h"

class SimPort final : public CCommPort {
public:
    SimPort(VirtualBus& bus, Clock& clock);

    // Opens at a line rate in bits per second (a module at another rate gives no
    // intelligible reply). Always succeeds for baud > 0.
    bool Open(int baud = 9600);
    void Close() override;
    bool IsOpen() const override { return open_; }
    int Write(std::span<const std::uint8_t> data) override;
    int Read(std::span<std::uint8_t> buf) override;

    int Baud() const { return baud_; }
    // Wire time of n bytes at the open rate, in microseconds.
    Clock::Micros WireTime(std::size_t bytes) const;
    // When the pending reply becomes readable (zero when none is pending).
    Clock::Micros ReplyReadyAt() const { return readyAt_; }
    // Every frame written since Open, for tests that check what went on the wire.
    const std::vector<std::vector<std::uint8_t>>& Sent() const { return sent_; }

private:
    VirtualBus& bus_;
    Clock& clock_;
    bool open_ = false;
    int baud_ = 9600;
    std::vector<std::uint8_t> pending_;
    std::size_t taken_ = 0;
    Clock::Micros readyAt_{0};
    std::vector<std::vector<std::uint8_t>> sent_;
};
