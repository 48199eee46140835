#pragma once
// What went over the link, as the sessions saw it: the last frames sent and received (a
// bounded ring) and, per module address, how the exchanges ended. Sessions note every frame
// here when the link points at a monitor; the traffic window and kvt40ctl's --trace and
// --stats read it.
//
// Memory is bounded: the ring keeps the last kFrames frames and of each at most kKeptBytes
// bytes (a firmware block of 1 KiB keeps its head; its size is still the whole).
//
// A frame's time is milliseconds since the first frame the monitor saw (or since Clear).
// A reply's latency runs from its request's last byte leaving to the reply being read; the
// tool reads a reply when its wait is over (200 ms after a read request, at the next tick of
// a polling view), so it bounds the module's answer time from above.
//
// Statistics count Modbus exchanges only: the bootloader's raw text and bytes show in the
// ring but not in the counts (its polls for a first byte are not requests). A write whose
// echo the tool does not read counts as a request with neither a reply nor a no reply.
//
// Thread contract: the exchanging thread (the user-interface thread or an update worker)
// notes frames while the user-interface thread reads; every call takes the monitor's lock.
// The listener is called on the exchanging thread, outside the lock, one frame at a time.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/Clock.h"

enum class ExchangeFailure;

enum class FrameKind {
    Sent,      // a request (or raw bytes) written
    Received,  // a reply (or raw bytes) read
    NoReply,   // the wait for a reply ended with nothing
    PortLost,  // the port vanished under the exchange
};

struct FrameRecord {
    std::uint64_t seq = 0;  // 1 for the first frame ever noted, never reused
    double timeMs = 0;
    FrameKind kind = FrameKind::Sent;
    int address = 0;                  // the module the link talked to
    bool raw = false;                 // bootloader traffic, not a Modbus frame
    std::vector<std::uint8_t> bytes;  // the first kKeptBytes of the frame
    std::size_t size = 0;             // bytes on the wire
    std::optional<double> latencyMs;  // replies and no replies: since the request
    // Replies: how the session judged it (None: it passed). PortLost: the system's reason.
    ExchangeFailure verdict{};
    int exceptionCode = 0;
    std::string note;
};

struct AddressStats {
    std::uint64_t requests = 0;
    std::uint64_t replies = 0;  // replies that passed, exceptions included
    std::uint64_t noReplies = 0;
    std::uint64_t badCrc = 0;
    std::uint64_t wrongLength = 0;  // short, long or cut replies
    std::uint64_t exceptions = 0;
    std::uint64_t portLosses = 0;
    std::uint64_t timed = 0;  // replies whose latency is in the sum
    double latencySumMs = 0;
    double latencyMaxMs = 0;
    double MeanLatencyMs() const { return timed > 0 ? latencySumMs / static_cast<double>(timed) : 0; }
};

using LinkStatistics = std::map<int, AddressStats>;

class LinkMonitor {
public:
    static constexpr std::size_t kFrames = 2000;
    static constexpr std::size_t kKeptBytes = 256;

    // A request (or raw bytes, `raw`) left for `address` at `at` on the session's clock.
    void Sent(int address, std::span<const std::uint8_t> bytes, Clock::Micros at, bool raw);
    // A reply read at `at` and the session's verdict on it.
    void Received(int address, std::span<const std::uint8_t> bytes, Clock::Micros at, bool raw,
                  ExchangeFailure verdict, int exceptionCode = 0);
    void NoReply(int address, Clock::Micros at);
    void PortLost(int address, Clock::Micros at, const std::string& reason);

    // The kept frames newer than `afterSeq`, oldest first.
    std::vector<FrameRecord> FramesAfter(std::uint64_t afterSeq) const;
    LinkStatistics Statistics() const;
    std::uint64_t LastSeq() const;
    // Forgets frames and counts; sequence numbers go on, and LastSeq moves (the counts changed).
    void Clear();
    // Called with each frame as it is noted (kvt40ctl's --trace); empty: none.
    void SetListener(std::function<void(const FrameRecord&)> listener);

private:
    void Note(FrameRecord record, Clock::Micros at);

    mutable std::mutex mutex_;
    std::deque<FrameRecord> frames_;
    LinkStatistics stats_;
    std::uint64_t seq_ = 0;
    std::optional<Clock::Micros> origin_;
    std::optional<Clock::Micros> requestAt_;  // the last request, for its reply's latency
    bool lost_ = false;                       // a loss was noted and nothing went over since
    std::function<void(const FrameRecord&)> listener_;
};

// One line per frame, the same in the traffic window's saved text and in --trace:
//   time_ms dir addr fn what bytes crc latency_ms hex
//      12.500 TX    1 03 start=504,count=33           8 ok          -  01 03 01 F8 00 21 C5 D1
// dir is TX, RX or -- (no reply, port lost); fn is the function in hex or --; what is one
// token; crc is ok, bad or - (raw traffic, nothing to check); hex ends in ... when cut.
std::string FrameLine(const FrameRecord& frame);
// The header line of the frame lines' columns.
std::string FrameLineHeader();
// The decoded columns of a frame line, for views that place them apart.
struct FrameColumns {
    std::string time, dir, address, function, what, bytes, crc, latency, hex;
};
FrameColumns FrameColumnsOf(const FrameRecord& frame);

// A table of the statistics, one row per address, under a header; "no exchanges" when empty.
std::string StatisticsTable(const LinkStatistics& stats);
// The status bar's summary of every address together: "Link: 120 requests, 118 replies,
// 2 no replies, 0 bad CRC, mean 41 ms"; empty before the first request.
std::string StatisticsSummary(const LinkStatistics& stats);
