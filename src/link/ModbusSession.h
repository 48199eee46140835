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
// A reply that passes the frame check fails here unless its byte count is exactly what the
// request asked for (the frame checks do not compare the count with the request), so no
// caller decodes bytes that never arrived or takes a reply meant for another request.
//
// Thread contract: a session holds no state of its own beyond the last failure; use one
// per thread. The link state it reads is written only by the connect sequence; the link's
// exchange record, when one is set, is written by every session on the link.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/LinkState.h"

enum class ExchangeFailure {
    None,
    NoLink,         // no protocol or port, or the port is closed
    NoReply,        // nothing arrived
    BadReply,       // refused by the frame check for none of the reasons named below
    ShortReply,     // a good frame with fewer values than asked
    Exception,      // the module refused the request (function | 0x80)
    PortLost,       // the port vanished under the exchange (the record keeps the system's reason)
    BadCrc,         // a whole frame whose CRC does not match
    WrongLength,    // a byte count other than the request's, or fewer bytes than the frame announces
    WrongFunction,  // a good frame that answers another function
};

// The last failure on a link since a reply last passed, kept for a caller that did not hold
// the session (kvt40ctl's reason line under a command's failure).
struct ExchangeRecord {
    ExchangeFailure failure = ExchangeFailure::None;
    int address = 0;
    int exceptionCode = 0;
    std::string lostReason;  // the port's LostReason for PortLost
};

using RegisterValues = std::vector<std::int32_t>;

class ModbusSession {
public:
    // The receive length of every exchange (the reply buffer grows for longer replies).
    static constexpr int kReplyBytes = 200;

    ModbusSession(LinkState& link, Clock& clock) : link_(link), clock_(clock) {}

    LinkState& Link() const { return link_; }
    Clock& GetClock() const { return clock_; }
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

    ExchangeFailure LastFailure() const { return last_.failure; }
    int LastExceptionCode() const { return last_.exceptionCode; }
    // The whole of the last outcome, the lost port's reason included.
    const ExchangeRecord& LastExchange() const { return last_; }

private:
    bool SendRead(int function, int start, int count);
    std::optional<RegisterValues> Collect(int function, int count);
    // A new exchange: no failure yet.
    void Begin();
    // A reply passed: the link's record forgets the last failure.
    void Answered();
    bool Fail(ExchangeFailure f, int exceptionCode = 0);
    // A write or read that moved nothing: a lost port, a closed one, or (reading) silence.
    // A raw read's silence is no failure of a request: the monitor does not note it.
    bool FailTransfer(bool reading, bool raw = false);
    // The link's monitor, when it has one, sees the frame and (a reply) the verdict so far.
    void NoteSent(std::span<const std::uint8_t> bytes, bool raw);
    void NoteReceived(std::span<const std::uint8_t> bytes, bool raw);
    // Why a reply to `function` failed the frame check (a write's echo when `echo`).
    ExchangeFailure Diagnose(std::span<const std::uint8_t> rx, int function, bool echo);

    LinkState& link_;
    Clock& clock_;
    ExchangeRecord last_;
    std::optional<Clock::Micros> inFlightSince_;  // when the request of the split exchange went out
};

// A line for the user: "No reply from module 1", "Bad reply from module 1", ...
std::string FailureText(ExchangeFailure failure, int address, int exceptionCode = 0);
// The same with what only the record knows: the lost port's reason ("Port lost: Input/output
// error") and the meaning of an exception ("Exception 2 from module 1: illegal data address").
std::string FailureText(const ExchangeRecord& record);
// The standard meaning of a Modbus exception code ("illegal data address" for 2).
std::string ExceptionMeaning(int code);
