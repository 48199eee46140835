#include "link/LinkMonitor.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "link/ModbusRtu.h"
#include "link/ModbusSession.h"

namespace {

double Ms(Clock::Micros d) {
    return static_cast<double>(d.count()) / 1000.0;
}

int Word(const std::vector<std::uint8_t>& b, std::size_t at) {
    return (b[at] << 8) | b[at + 1];
}

bool CrcHolds(const std::vector<std::uint8_t>& b, std::size_t size) {
    if (size < 4 || b.size() < size) return false;
    const std::uint16_t crc = Crc16Modbus(Bytes(b.data(), size - 2));
    return b[size - 2] == (crc & 0xFF) && b[size - 1] == (crc >> 8);
}

std::string Fmt(const char* format, auto... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string s(static_cast<std::size_t>(std::max(n, 0)), '\0');
    std::snprintf(s.data(), s.size() + 1, format, args...);
    return s;
}

// What a request asks for, read from its own bytes.
std::string RequestWhat(const std::vector<std::uint8_t>& b, std::size_t size) {
    if (size < 6 || b.size() < 6) return "short";
    switch (b[1]) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x10:
            return Fmt("start=%d,count=%d", Word(b, 2), Word(b, 4));
        case 0x05:
            return Fmt("coil=%d,%s", Word(b, 2), Word(b, 4) == 0xFF00 ? "on" : "off");
        case 0x06:
            return Fmt("register=%d,value=%d", Word(b, 2), Word(b, 4));
        default:
            return "function";
    }
}

std::string VerdictWhat(ExchangeFailure verdict, int exceptionCode) {
    switch (verdict) {
        case ExchangeFailure::Exception:
            return Fmt("exception=%d", exceptionCode);
        case ExchangeFailure::BadCrc:
            return "bad-crc";
        case ExchangeFailure::WrongLength:
            return "wrong-length";
        case ExchangeFailure::ShortReply:
            return "short-reply";
        case ExchangeFailure::WrongFunction:
            return "wrong-function";
        case ExchangeFailure::BadReply:
            return "bad-reply";
        default:
            return {};
    }
}

// What a reply that passed carries.
std::string ReplyWhat(const std::vector<std::uint8_t>& b, std::size_t size) {
    if (size < 5 || b.size() < 3) return "reply";
    switch (b[1]) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
            return Fmt("bytes=%d", b[2]);
        case 0x05:
        case 0x06:
        case 0x10:
            return size >= 8 ? RequestWhat(b, size) : "reply";
        default:
            return "reply";
    }
}

std::string Hex(const std::vector<std::uint8_t>& b, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(3 * b.size() + 4);
    for (std::uint8_t x : b) {
        if (!s.empty()) s += ' ';
        s += kDigits[x >> 4];
        s += kDigits[x & 0xF];
    }
    if (size > b.size()) s += " ...";
    return s;
}

// A frame as noted: its head kept, its whole size counted.
FrameRecord FrameOf(FrameKind kind, int address, std::span<const std::uint8_t> bytes = {}, bool raw = false) {
    FrameRecord r;
    r.kind = kind;
    r.address = address;
    r.raw = raw;
    r.size = bytes.size();
    r.bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(
                                                      std::min(bytes.size(), LinkMonitor::kKeptBytes)));
    return r;
}

}  // namespace

void LinkMonitor::Note(FrameRecord record, Clock::Micros at) {
    std::function<void(const FrameRecord&)> listener;
    {
        std::lock_guard lock(mutex_);
        if (!origin_) origin_ = at;
        record.seq = ++seq_;
        record.timeMs = Ms(at - *origin_);
        if (frames_.size() == kFrames) frames_.pop_front();
        frames_.push_back(record);
        listener = listener_;
    }
    if (listener) listener(record);
}

void LinkMonitor::Sent(int address, std::span<const std::uint8_t> bytes, Clock::Micros at, bool raw) {
    FrameRecord r = FrameOf(FrameKind::Sent, address, bytes, raw);
    {
        std::lock_guard lock(mutex_);
        requestAt_ = at;
        lost_ = false;
        if (!raw) ++stats_[address].requests;
    }
    Note(std::move(r), at);
}

void LinkMonitor::Received(int address, std::span<const std::uint8_t> bytes, Clock::Micros at, bool raw,
                           ExchangeFailure verdict, int exceptionCode) {
    FrameRecord r = FrameOf(FrameKind::Received, address, bytes, raw);
    r.verdict = verdict;
    r.exceptionCode = exceptionCode;
    {
        std::lock_guard lock(mutex_);
        if (requestAt_) r.latencyMs = Ms(at - *requestAt_);
        lost_ = false;
        if (!raw) {
            AddressStats& s = stats_[address];
            switch (verdict) {
                case ExchangeFailure::BadCrc:
                    ++s.badCrc;
                    break;
                case ExchangeFailure::WrongLength:
                case ExchangeFailure::ShortReply:
                    ++s.wrongLength;
                    break;
                case ExchangeFailure::Exception:
                    ++s.exceptions;
                    ++s.replies;
                    break;
                case ExchangeFailure::None:
                    ++s.replies;
                    break;
                default:  // another function, or refused for no named reason: still not a reply
                    break;
            }
            if (r.latencyMs) {
                ++s.timed;
                s.latencySumMs += *r.latencyMs;
                s.latencyMaxMs = std::max(s.latencyMaxMs, *r.latencyMs);
            }
        }
        requestAt_.reset();
    }
    Note(std::move(r), at);
}

void LinkMonitor::NoReply(int address, Clock::Micros at) {
    FrameRecord r = FrameOf(FrameKind::NoReply, address);
    {
        std::lock_guard lock(mutex_);
        if (requestAt_) r.latencyMs = Ms(at - *requestAt_);
        ++stats_[address].noReplies;
        requestAt_.reset();
    }
    Note(std::move(r), at);
}

void LinkMonitor::PortLost(int address, Clock::Micros at, const std::string& reason) {
    FrameRecord r = FrameOf(FrameKind::PortLost, address);
    r.verdict = ExchangeFailure::PortLost;
    r.note = reason;
    {
        std::lock_guard lock(mutex_);
        // Every exchange tried on a lost port meets the same loss: it is one loss.
        if (lost_) return;
        lost_ = true;
        ++stats_[address].portLosses;
        requestAt_.reset();
    }
    Note(std::move(r), at);
}

std::vector<FrameRecord> LinkMonitor::FramesAfter(std::uint64_t afterSeq) const {
    std::lock_guard lock(mutex_);
    std::vector<FrameRecord> out;
    for (auto it = frames_.rbegin(); it != frames_.rend() && it->seq > afterSeq; ++it) out.push_back(*it);
    return {out.rbegin(), out.rend()};
}

LinkStatistics LinkMonitor::Statistics() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::uint64_t LinkMonitor::LastSeq() const {
    std::lock_guard lock(mutex_);
    return seq_;
}

void LinkMonitor::Clear() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    stats_.clear();
    ++seq_;  // a reader that waits for a change of LastSeq sees this one
    origin_.reset();
    requestAt_.reset();
    lost_ = false;
}

void LinkMonitor::SetListener(std::function<void(const FrameRecord&)> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

FrameColumns FrameColumnsOf(const FrameRecord& f) {
    // Whole strings, not literals: GCC 12 at -O3 warns falsely on assigning a literal here.
    using namespace std::string_literals;
    FrameColumns c;
    c.time = Fmt("%.3f", f.timeMs);
    c.address = std::to_string(f.address);
    c.bytes = std::to_string(f.size);
    c.latency = f.latencyMs ? Fmt("%.1f", *f.latencyMs) : "-"s;
    c.function = "--"s;
    c.crc = "-"s;
    switch (f.kind) {
        case FrameKind::Sent:
        case FrameKind::Received: {
            c.dir = f.kind == FrameKind::Sent ? "TX"s : "RX"s;
            c.hex = Hex(f.bytes, f.size);
            if (f.raw) {
                c.what = "raw"s;
                break;
            }
            if (f.bytes.size() >= 2) c.function = Fmt("%02X", f.bytes[1]);
            c.crc = CrcHolds(f.bytes, f.size) ? "ok"s : "bad"s;
            if (f.kind == FrameKind::Sent)
                c.what = RequestWhat(f.bytes, f.size);
            else if (f.verdict != ExchangeFailure::None)
                c.what = VerdictWhat(f.verdict, f.exceptionCode);
            else
                c.what = ReplyWhat(f.bytes, f.size);
            if (c.what.empty()) c.what = "reply"s;
            // A frame cut short of the kept bytes cannot show its CRC: say so, not "bad".
            if (f.size > f.bytes.size()) c.crc = "-"s;
            break;
        }
        case FrameKind::NoReply:
            c.dir = "--"s;
            c.what = "no-reply"s;
            break;
        case FrameKind::PortLost:
            c.dir = "--"s;
            c.what = "port-lost"s;
            c.hex = f.note;
            break;
    }
    return c;
}

std::string FrameLine(const FrameRecord& f) {
    const FrameColumns c = FrameColumnsOf(f);
    std::string line =
        Fmt("%10s %-2s %4s %-2s %-24s %5s %-3s %8s", c.time.c_str(), c.dir.c_str(), c.address.c_str(),
            c.function.c_str(), c.what.c_str(), c.bytes.c_str(), c.crc.c_str(), c.latency.c_str());
    if (!c.hex.empty()) line += "  " + c.hex;
    return line;
}

std::string FrameLineHeader() {
    return Fmt("%10s %-2s %4s %-2s %-24s %5s %-3s %8s  %s", "time_ms", "dir", "addr", "fn", "what", "bytes",
               "crc", "latency", "hex");
}

std::string StatisticsTable(const LinkStatistics& stats) {
    if (stats.empty()) return "no exchanges\n";
    std::string t =
        Fmt("%4s %9s %9s %9s %7s %12s %10s %10s %9s %9s\n", "addr", "requests", "replies", "no_reply",
            "bad_crc", "wrong_length", "exceptions", "port_lost", "mean_ms", "max_ms");
    for (const auto& [address, s] : stats) {
        t += Fmt("%4d %9" PRIu64 " %9" PRIu64 " %9" PRIu64 " %7" PRIu64, address, s.requests, s.replies,
                 s.noReplies, s.badCrc);
        t += Fmt(" %12" PRIu64 " %10" PRIu64 " %10" PRIu64 " %9.1f %9.1f\n", s.wrongLength, s.exceptions,
                 s.portLosses, s.MeanLatencyMs(), s.latencyMaxMs);
    }
    return t;
}

std::string StatisticsSummary(const LinkStatistics& stats) {
    AddressStats all;
    for (const auto& [address, s] : stats) {
        all.requests += s.requests;
        all.replies += s.replies;
        all.noReplies += s.noReplies;
        all.badCrc += s.badCrc;
        all.portLosses += s.portLosses;
        all.timed += s.timed;
        all.latencySumMs += s.latencySumMs;
    }
    if (all.requests == 0 && all.portLosses == 0) return {};
    std::string t =
        Fmt("Link: %" PRIu64 " requests, %" PRIu64 " replies, %" PRIu64 " no replies, %" PRIu64 " bad CRC",
            all.requests, all.replies, all.noReplies, all.badCrc);
    if (all.portLosses > 0) t += Fmt(", %" PRIu64 " port losses", all.portLosses);
    if (all.timed > 0) t += Fmt(", mean %.0f ms", all.MeanLatencyMs());
    return t;
}
