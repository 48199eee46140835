#pragma once
// What a module carries to answer bytes on the line that are not Modbus frames: its
// bootloader's handshake, menu keys and file-transfer packets. The bus offers every stream
// to the handlers of the modules at the line rate before it tries Modbus, so a handler that
// claims bytes gets them; one that says No leaves them to Modbus framing.
//
// Usage:
//     class Loader final : public RawHandler {
//         Match MatchRaw(std::span<const std::uint8_t> s, std::size_t& length) const override {
//             if (s.empty() || s[0] != '1') return Match::No;
//             length = 1;
//             return Match::Complete;
//         }
//         std::vector<std::uint8_t> HandleRaw(VirtualModule&, std::span<const std::uint8_t>,
//                                             Clock::Micros) override { return {'O', 'K'}; }
//     };
//     bus.WithModule(1, [](VirtualModule& m) { m.SetRawHandler(std::make_unique<Loader>()); });
//
// Called with the bus locked, from whichever thread serves the bus.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/Clock.h"

class VirtualModule;

class RawHandler {
public:
    enum class Match {
        No,        // not a unit of this handler: try Modbus
        NeedMore,  // the start of a unit: hold the bytes until more arrive
        Complete,  // a whole unit of `length` bytes starts the stream
    };

    // Decides from the handler's state (expecting a handshake, a menu key, a packet whose
    // first byte gives its length) whether `stream` starts with one of its units.
    virtual Match MatchRaw(std::span<const std::uint8_t> stream, std::size_t& length) const = 0;
    // Acts on one unit MatchRaw called Complete; returns the reply bytes (none: silence).
    // The module's turnaround applies before them, plus ExtraDelayMs.
    virtual std::vector<std::uint8_t> HandleRaw(VirtualModule& module, std::span<const std::uint8_t> unit,
                                                Clock::Micros now) = 0;
    // Time the last HandleRaw takes beyond the turnaround (a flash erase, a restart).
    virtual int ExtraDelayMs() const { return 0; }

    virtual ~RawHandler() = default;
};
