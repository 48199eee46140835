#include "sim/RequestFramer.h"

#include <algorithm>

#include "link/ModbusRtu.h"

namespace {

// The longest RTU frame: a function of unknown length is not searched past it.
constexpr std::size_t kMaxFrame = 256;
// A raw unit still incomplete at this size is taken for noise (no handler's unit is longer).
constexpr std::size_t kMaxRawHold = 16 * 1024;
// Consumed bytes are moved out of the buffer once this many have gathered.
constexpr std::size_t kCompactAt = 4096;

bool CrcOk(std::span<const std::uint8_t> f) {
    const std::uint16_t crc = Crc16Modbus(f.first(f.size() - 2));
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

enum class Implied { Known, Undecided, Unknown };

// The request length the function code (and its byte count) implies, for every public
// function whose request has one; the module answers those it does not serve with an
// exception, so they must be framed too.
Implied ImpliedLength(std::span<const std::uint8_t> s, std::size_t& want) {
    const auto countAt = [&](std::size_t at, std::size_t fixed) {
        if (s.size() <= at) return Implied::Undecided;
        want = fixed + s[at];
        return Implied::Known;
    };
    switch (s[1]) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
            want = 8;
            return Implied::Known;
        case 0x07:
        case 0x0B:
        case 0x0C:
        case 0x11:
            want = 4;
            return Implied::Known;
        case 0x0F:
        case 0x10:
            return countAt(6, 9);
        case 0x14:
        case 0x15:
            return countAt(2, 5);
        case 0x16:
            want = 10;
            return Implied::Known;
        case 0x17:
            return countAt(10, 13);
        case 0x18:
            want = 6;
            return Implied::Known;
        case 0x2B:  // only the device-identification request has a fixed length
            if (s.size() < 3) return Implied::Undecided;
            if (s[2] != 0x0E) return Implied::Unknown;
            want = 7;
            return Implied::Known;
        default:
            return Implied::Unknown;
    }
}

// FrameAt, resuming the search of an unknown function at length `from`.
RequestFramer::Framing Frame(std::span<const std::uint8_t> s, std::size_t& length, bool inStep,
                             std::size_t& from) {
    using F = RequestFramer::Framing;
    if (s.size() < 2) return F::NeedMore;
    std::size_t want = 0;
    switch (ImpliedLength(s, want)) {
        case Implied::Undecided:
            return F::NeedMore;
        case Implied::Known:
            if (s.size() < want) return F::NeedMore;
            length = want;
            return CrcOk(s.first(want)) ? F::Complete : F::Bad;
        case Implied::Unknown:
            break;
    }
    if (!inStep) return F::Bad;
    // Its length is not implied, so any length whose CRC holds is taken (the module answers
    // it with an illegal-function exception).
    const std::size_t last = std::min(s.size(), kMaxFrame);
    for (std::size_t n = std::max<std::size_t>(from, 4); n <= last; ++n)
        if (CrcOk(s.first(n))) {
            length = n;
            return F::Complete;
        }
    from = last + 1;
    return s.size() >= kMaxFrame ? F::Bad : F::NeedMore;
}

}  // namespace

RequestFramer::Framing RequestFramer::FrameAt(std::span<const std::uint8_t> stream, std::size_t& length,
                                              bool inStep) {
    std::size_t from = 0;
    return Frame(stream, length, inStep, from);
}

RequestFramer::RequestFramer(RawMatcher raw) : raw_(std::move(raw)) {}

void RequestFramer::Append(std::span<const std::uint8_t> bytes) {
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

void RequestFramer::Clear() {
    buf_.clear();
    head_ = settled_ = ahead_ = searched_ = 0;
    inStep_ = true;
}

RequestFramer::Framing RequestFramer::FrontFraming(std::size_t& length) {
    return Frame(std::span<const std::uint8_t>(buf_).subspan(head_), length, inStep_, searched_);
}

std::optional<RequestFramer::Unit> RequestFramer::Next() {
    while (head_ < buf_.size()) {
        const auto stream = std::span<const std::uint8_t>(buf_).subspan(head_);
        std::size_t length = 0;
        const RawHandler::Match raw = raw_ ? raw_(stream, length) : RawHandler::Match::No;
        if (raw == RawHandler::Match::Complete && length > 0 && length <= stream.size()) {
            Unit unit{true, {stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length)}};
            Consume(length);
            inStep_ = true;
            return unit;
        }
        bool drop = raw == RawHandler::Match::NeedMore && stream.size() >= kMaxRawHold;
        if (raw == RawHandler::Match::NeedMore && !drop) return std::nullopt;
        if (!drop) {
            const Framing f = FrontFraming(length);
            if (f == Framing::Complete) {
                Unit unit{false, {stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length)}};
                Consume(length);
                inStep_ = true;
                return unit;
            }
            // Still incomplete at the front, but a whole good frame follows: the front was noise.
            if (f == Framing::NeedMore && !GoodFrameAhead()) return std::nullopt;
        }
        ++dropped_;
        inStep_ = false;
        Consume(1);
    }
    return std::nullopt;
}

bool RequestFramer::GoodFrameAhead() {
    if (ahead_ > head_) return true;
    // Only frames of implied length are looked for, each start checked once it is decidable.
    bool settling = true;
    for (std::size_t pos = std::max(head_ + 1, settled_); pos + 4 <= buf_.size(); ++pos) {
        std::size_t length = 0;
        const Framing f = FrameAt(std::span<const std::uint8_t>(buf_).subspan(pos), length, false);
        if (f == Framing::Complete) {
            ahead_ = pos;
            return true;
        }
        if (f == Framing::NeedMore) settling = false;
        if (settling) settled_ = pos + 1;
    }
    return false;
}

void RequestFramer::Consume(std::size_t n) {
    head_ += n;
    searched_ = 0;
    if (head_ >= buf_.size()) {
        // Ran dry: whatever comes next starts in step, as after a silence on the line.
        Clear();
        return;
    }
    if (head_ >= kCompactAt && 2 * head_ >= buf_.size()) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
        settled_ = settled_ > head_ ? settled_ - head_ : 0;
        ahead_ = ahead_ > head_ ? ahead_ - head_ : 0;
        head_ = 0;
    }
}
