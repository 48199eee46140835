#pragma once
// The bus reached through a serial device server: a TCP connection carrying the raw bytes
// ("tcp://HOST:PORT"), or a Telnet connection with the COM-port control of RFC 2217
// ("rfc2217://HOST:PORT"), which sets the remote line as Open is told to. See PortAddress.h
// for the names and their settings.
//
// The read rule. A network hands a reply over in segments, with gaps that say nothing about
// the serial line, so a Read (which, as every port's, returns 0 at once when nothing waits)
// collects once a byte is there until the first of:
//   - the buffer is full;
//   - the reply to the last Modbus request written is complete as its own header announces it
//     (same address and function: 5 bytes for an exception, 5 + byte count for a read,
//     8 for a write echo); bytes after it wait for the next Read, and a Write purges them;
//   - unless the bytes so far begin that reply (its address, then its function): the line
//     has been silent for the serial gap (3 character times) plus the address's network gap
//     (default 10 ms), which ends raw traffic and anything unexpected;
//   - the serial total bound (buffer size times a character time) plus the network gap has
//     passed since the call.
// So a Modbus reply is never cut at a segment boundary, however long the gap, within the
// total bound; raw traffic (the bootloader's banner, the update's acknowledges) ends one
// network gap after its last byte.
//
// Ownership: the port owns its socket and closes it in Close and in the destructor.
// Threads: as CCommPort says. Read and Write hold a lock for the whole call and wait in slices
// of at most 20 ms, looking for a Close between them, so Close from another thread returns
// within a slice. Open belongs to the user-interface thread; opening the name already open
// only sets the line again (RFC 2217), without a new connection.
//
// Lost: the server closing the connection or resetting it, met inside a Read or Write,
// closes the port; the call returns 0 and LostReason says why until the next good Open.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/CommPort.h"
#include "link/PortAddress.h"

class CNetworkPort final : public CCommPort {
public:
    // Waits and time-outs are measured on `clock` (the real clock unless a test says).
    CNetworkPort();
    explicit CNetworkPort(Clock& clock);
    CNetworkPort(const CNetworkPort&) = delete;
    CNetworkPort& operator=(const CNetworkPort&) = delete;
    ~CNetworkPort() override;

    // Connects to the address in `name` (within its connect time-out) and, for RFC 2217,
    // negotiates the COM-port control and sets the line: baud in bits per second (> 0),
    // dataBits 5..8 (4 is sent as 5), parity 0 none / 1 odd / 2 even, stopBits 0 one / 1 one
    // and a half / 2 two; the server must confirm every value. On any failure the port is
    // closed and OpenFailureText says why. A raw connection ignores the line settings.
    bool Open(const std::string& name, int baud, int dataBits, int parity, int stopBits);
    // Why the last Open failed, in one line ("connection refused by 127.0.0.1:4001"); empty
    // after one that succeeded.
    std::string OpenFailureText() const;

    void Close() override;
    bool IsOpen() const override;
    int Write(std::span<const std::uint8_t> data) override;
    int Read(std::span<std::uint8_t> buf) override;
    std::string LostReason() const override;

    // The name last opened; empty while closed.
    std::string Name() const;

private:
    enum class Pump { Ok, Lost, Closing };
    struct Line {
        std::uint32_t baud = 0;
        int dataBits = 0;
        int parity = 0;    // the RFC 2217 codes: 1 none, 2 odd, 3 even
        int stopBits = 0;  // 1 one, 2 two, 3 one and a half
        bool operator==(const Line&) const = default;
    };

    bool Closing() const { return closers_ > 0; }
    std::int64_t NowMs() const { return clock_.nowMs(); }
    bool Fail(const std::string& why);
    void CloseLocked();
    void LoseLocked(const std::string& reason);
    std::string LostText(int error) const;
    bool ConnectLocked(const PortAddress& address);
    // Waits up to `ms` for the socket to become readable (or writable); false on Close.
    bool WaitLocked(bool forWrite, int ms);
    // Takes in what the socket holds without waiting: data into pending_, Telnet commands
    // answered.
    Pump PumpLocked();
    void Decode(std::uint8_t b);
    void Negotiate(std::uint8_t verb, std::uint8_t option);
    void SubNegotiation();
    bool SendLocked(const std::vector<std::uint8_t>& wire, int boundMs);
    bool SendCommandLocked(std::uint8_t command, const std::vector<std::uint8_t>& value);
    // Waits (pumping) until `done` holds or `ms` pass; false on time-out, Close or loss.
    template <class Done>
    bool AwaitLocked(int ms, Done done);
    bool NegotiateComPortLocked();
    bool SetLineLocked(int baud, int dataBits, int parity, int stopBits);
    // The length the reply to the last request announces in its first `got` bytes, if known.
    std::optional<std::size_t> ExpectedReplyLength(std::span<const std::uint8_t> got) const;
    // Whether `got` is the start of the reply to the last request, with bytes still due.
    bool ReplyBegun(std::span<const std::uint8_t> got) const;

    Clock& clock_;
    mutable std::mutex mutex_;
    std::atomic<bool> open_{false};
    std::atomic<int> closers_{0};
    mutable std::mutex textMutex_;  // guards lostReason_ and openFailure_ alone
    std::string lostReason_;
    std::string openFailure_;

    std::intptr_t socket_ = -1;
    std::string name_;
    PortAddress address_;
    int charMs_ = 2;
    std::vector<std::uint8_t> pending_;  // data received and not yet read
    // The last request written when it was a Modbus frame: its address and function.
    int requestAddress_ = -1;
    int requestFunction_ = -1;

    // Telnet state of the connection (RFC 2217 only).
    enum class Rx { Data, Iac, Verb, Sub, SubIac };
    Rx rx_ = Rx::Data;
    std::uint8_t verb_ = 0;
    std::vector<std::uint8_t> sub_;
    bool comPortAsked_ = false;
    std::optional<bool> comPortAccepted_;
    bool weBinary_ = false, theyBinary_ = false, weSga_ = false, theySga_ = false;
    Line confirmed_;
    int confirmedCount_ = 0;
    std::vector<std::uint8_t> replies_;  // Telnet answers due, sent by the next pump
};
