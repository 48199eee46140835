#pragma once
// Every exchange with a module: build the request at the link's device address, write it
// (the port purges first), wait on the clock, read, check. Cycles, sequences, forms and
// CLI commands all talk through a session; none of them reaches for the global link or
// clock, so a test hands in its own.
//
//     ModbusSession s(link, clock);
//     if (auto regs = s.ReadRegisters(504, 33, 300)) use((*regs)[0]);
//     else report(s.LastFailure());
//
// A reply that passes the frame check but carries fewer values than asked fails here
// (the frame checks do not compare the count with the request), so no caller ever
// decodes bytes that never arrived.
//
// Thread contract: a session holds no state of its own beyond the last failure; use one
// per thread. The link state it reads is written only by the connect sequence.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/LinkState.h"

enum class ExchangeFailure {
    None,
    NoLink,      // no protocol or port, or the port is closed
    NoReply,     // nothing arrived
    BadReply,    // wrong CRC, wrong function or too short to be a frame
    ShortReply,  // a good frame with fewer values than asked
    Exception,   // the module refused the request (function | 0x80)
};

using RegisterValues = std::vector<std::int32_t>;

class ModbusSession {
public:
    // The receive length of every exchange (the reply buffer grows for longer replies).
    static constexpr int kReplyBytes = 200;

    ModbusSession(LinkState& link, Clock& clock) : link_(link), clock_(clock) {}

    LinkState& Link() const { return link_; }
    Clock& TheClock() const { return clock_; }
    int Address() const { return link_.deviceAddress; }
    // A protocol and an open port are there.
    bool Connected() const;

    // Function 03: one value per register, unsigned 16 bits.
    std::optional<RegisterValues> ReadRegisters(int start, int count, int waitMs);
    // Function 16, then the wait; the echo is left unread (the next Write discards it).
    // False only when nothing could be sent.
    bool WriteRegisters(int start, std::span<const std::int32_t> values, int waitMs);
    // Function 16, the wait, then the echo read and checked (an exception's code is kept).
    bool WriteRegistersConfirmed(int start, std::span<const std::int32_t> values, int waitMs);
    // Function 05, then the wait; the echo is left unread.
    bool WriteCoil(int coil, bool on, int waitMs);
    // Functions 01 and 02: one value (0 or 1) per bit asked for.
    std::optional<RegisterValues> ReadCoils(int start, int count, int waitMs);
    std::optional<RegisterValues> ReadInputs(int start, int count, int waitMs);

    // The split exchange of a polling cycle: the request at the end of one tick...
    bool SendReadRegisters(int start, int count);
    bool SendReadInputs(int start, int count);
    // ...and its reply at the start of the next.
    std::optional<RegisterValues> CollectRegisters(int count);
    std::optional<RegisterValues> CollectInputs(int count);
    // A request of the split exchange went out and no Collect has read since.
    bool InFlight() const { return inFlightSince_.has_value(); }
    // Before another request may go out: waits until the reply in flight has come, reads it
    // and drops it; gives up boundMs after the request went out. Returns at once when no
    // request is in flight. The last failure is left as it was.
    void DropInFlight(int boundMs);

    // Raw bytes for the bootloader's text and single-byte replies. Send returns the bytes
    // written (0 when closed); ReadAvailable what the port's Read took, at most `max`.
    int Send(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> ReadAvailable(std::size_t max);

    ExchangeFailure LastFailure() const { return failure_; }
    int LastExceptionCode() const { return exceptionCode_; }

private:
    bool SendRead(int function, int start, int count);
    std::optional<RegisterValues> Collect(int function, int count);
    bool Fail(ExchangeFailure f);
    // A reply that failed its check: the module's exception when it is one, else BadReply.
    bool FailOnReply(std::span<const std::uint8_t> rx, int got, int function);

    LinkState& link_;
    Clock& clock_;
    ExchangeFailure failure_ = ExchangeFailure::None;
    int exceptionCode_ = 0;
    std::optional<Clock::Micros> inFlightSince_;  // when the request of the split exchange went out
};

// A line for the user: "No reply from module 1", "Bad reply from module 1", ...
std::string FailureText(ExchangeFailure failure, int address, int exceptionCode = 0);
