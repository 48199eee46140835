#pragma once
// An RS-485 bus of virtual modules: one request in, the addressed module's reply out (or
// nothing), with faults injected per module address. Every call takes the bus mutex, so
// the pty server thread and a test may use the same bus at once.
//
// Usage in a test:
//     VirtualClock clock;
//     VirtualBus bus(clock);
//     bus.AddModule(1);
//     SimPort port(bus, clock);
//     port.Open(9600);
//     bus.SetRegister(1, 504, 23000);               // voltage upper limit of module 1
//     auto ua = bus.ReadRegister(1, 0);             // std::optional<uint16_t>, ~22000
//     bus.InjectFault(1, {BusFault::Kind::BadCrc}); // every reply of module 1 from now on
//     bus.ClearFault(1);
//     bus.WithModule(1, [](VirtualModule& m) { m.SetCircuitFault(5, true); });

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "link/Clock.h"
#include "sim/VirtualModule.h"

// Faults change Modbus replies only; raw replies (RawHandler) go out as the handler made them.
// Refused and Ignored keep the request from the module: it answers with the exception, or
// with a write's echo, and changes nothing (a module that turns down or drops writes).
struct BusFault {
    enum class Kind { None, NoReply, Late, BadCrc, Exception, Garbage, WrongAddress, Refused, Ignored };
    Kind kind = Kind::None;
    int extraMs = 0;                 // Late: added to the module's turnaround
    std::size_t lateAfter = 0;       // Late: reply bytes sent on time before the pause (0: all late)
    std::uint8_t exceptionCode = 4;  // Exception: the code sent instead of the reply
    std::vector<std::uint8_t> garbage{0x00, 0xFF, 0x55};  // Garbage: sent before the reply
    int count = -1;                                       // replies it applies to; -1 forever
    std::uint8_t function = 0;  // only requests of this function code; 0 every request
};

struct BusReply {
    std::vector<std::uint8_t> bytes;
    int delayMs = 0;  // turnaround of the module (plus a Late fault), wire time not included
    int baud = 9600;  // the rate the module answers at
    // A pause of pauseMs on the line before byte pauseAt (a Late fault inside the reply).
    std::size_t pauseAt = 0;
    int pauseMs = 0;
};

class VirtualBus {
public:
    // The clock gives the time at which requests are answered (live values, energies).
    explicit VirtualBus(Clock& clock);

    // Adds a module at address 1..247 (replacing one already there) at a baud index
    // (0 = 4800, 1 = 9600, 2 = 19200); returns it. The reference stays valid for the bus's
    // life; touch it only while nothing serves the bus, otherwise use WithModule.
    VirtualModule& AddModule(int address, int baudIndex = 1);
    std::size_t ModuleCount() const;

    // One request as it went on the line; baud is the master's line rate (0: any rate matches).
    // Units that raw handlers of modules at that rate claim (one after another) go to them;
    // otherwise the bytes must be a Modbus frame with a good CRC. No reply (nullopt) for a bad
    // CRC, an unknown address, a broadcast, a module at another baud rate, a NoReply fault,
    // or raw units nobody answers.
    std::optional<BusReply> Process(std::span<const std::uint8_t> request, int baud = 0);

    // Whether the raw handlers at the line rate claim the start of `stream`: Complete with the
    // unit's length (the shortest when several claim it), NeedMore, or No. No without handlers.
    RawHandler::Match MatchRaw(std::span<const std::uint8_t> stream, int baud, std::size_t& length) const;

    // Faults keyed by module address: they apply while a module at that address answers.
    void InjectFault(int address, BusFault fault);
    void ClearFault(int address);

    // Locked access to a module by its present address; false/nullopt when none is there.
    std::optional<std::uint16_t> ReadRegister(int address, int reg);
    bool SetRegister(int address, int reg, std::uint16_t value);
    bool WithModule(int address, const std::function<void(VirtualModule&)>& f);

    Clock& BusClock() const { return clock_; }

private:
    VirtualModule* FindLocked(int address);
    bool AtRate(const VirtualModule& m, int baud) const { return baud == 0 || m.BaudRate() == baud; }
    RawHandler::Match MatchRawLocked(std::span<const std::uint8_t> stream, int baud,
                                     std::size_t& length) const;
    std::optional<BusReply> ProcessRawLocked(std::span<const std::uint8_t> request, int baud,
                                             Clock::Micros now);

    Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<VirtualModule>> modules_;
    std::map<int, BusFault> faults_;
};
