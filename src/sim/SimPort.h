#pragma once
// An in-memory CCommPort onto a VirtualBus, timed by a Clock. A written request reaches the
// bus at once (whole: raw units and Modbus frames alike); its reply arrives byte by byte at
// the wire rate, 10 bits a byte: byte i at request end + turnaround + (i + 1) byte times
// (plus any pause a Late fault puts inside the reply).
//
// Read follows the serial port's rules, with c = 10000 / baud + 1 ms: it zero-fills the
// buffer and returns 0 at once when no byte has arrived; otherwise it takes bytes until the
// buffer is full, a gap after a byte exceeds 3c, or c x buf.size() ms have passed since the
// call, waiting on the clock for bytes still due. A Read that ends short costs 3c after the
// last byte, as on the line. Write purges first, so a reply not yet read is discarded; but
// bytes still on their way when the purge happens arrive after it, as on a line, and the
// module answers the new request only once it has finished sending the old reply.
//
// Usage:
//     VirtualClock clock; VirtualBus bus(clock); bus.AddModule(1);
//     SimPort port(bus, clock);
//     port.Open(9600);
//     std::uint8_t req[8]; int n = CModbusRtu().BuildReadRegisters(req, 1, 0, 10);
//     port.Write({req, std::size_t(n)});
//     clock.sleep(200);                       // or advance the clock some other way
//     std::uint8_t rx[200]; port.Read(rx);    // the 25-byte reply
//
// Thread safety: as the serial port. Every call takes the port lock, but Read releases it
// while it waits on the clock; a Close (or Open, or Write) from another thread meanwhile
// makes that Read return 0. After Close every call returns 0; IsOpen never waits.

#include <atomic>
#include <cstdint>
#include <mutex>
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

    int Baud() const;
    // One character time in ms as the read rules use it: 10000 / baud + 1.
    int CharTimeMs() const;
    // Wire time of n bytes at the open rate, in microseconds.
    Clock::Micros WireTime(std::size_t bytes) const;
    // When byte `index` of the pending bytes arrives (zero when there is no such byte).
    Clock::Micros ByteDueAt(std::size_t index) const;
    // Every frame written since Open, for tests that check what went on the wire.
    std::vector<std::vector<std::uint8_t>> Sent() const;

private:
    Clock::Micros WireTimeLocked(std::size_t bytes) const;
    Clock::Micros ArrivalLocked(std::size_t index) const { return due_[index]; }
    void PurgeLocked();

    VirtualBus& bus_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::atomic<bool> open_{false};
    int baud_ = 9600;
    // Bumped by Open, Close and Write: a Read that slept sees the line it started on is gone.
    std::uint64_t generation_ = 0;
    std::vector<std::uint8_t> pending_;
    std::vector<Clock::Micros> due_;  // when each pending byte arrives
    std::size_t taken_ = 0;
    std::vector<std::vector<std::uint8_t>> sent_;
};
