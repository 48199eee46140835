#pragma once
// Cuts the byte stream a master writes into requests, without timing: first the units a raw
// handler claims (see RawHandler), then Modbus RTU frames by function code and byte count.
// Bytes that start neither are dropped one at a time until the stream is in step again.
//
// Each dropped byte costs O(1) CRC work: a frame of known length is checked once where it
// starts, the look-ahead for a good frame behind an incomplete one resumes where it stopped,
// and a function whose length is not implied is searched for a good CRC only where the
// stream is in step (at its start, after a served unit, after the buffer ran dry), never
// while resynchronising through noise: behind noise, such a request waits for the master's
// next request of known length (every one this tool sends) to bring the stream back in step.
//
// Usage:
//     RequestFramer framer([&](auto stream, std::size_t& n) { return bus.MatchRaw(stream, 9600, n); });
//     framer.Append(bytes);
//     while (auto unit = framer.Next()) Serve(*unit);

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "sim/RawHandler.h"

class RequestFramer {
public:
    using RawMatcher = std::function<RawHandler::Match(std::span<const std::uint8_t>, std::size_t&)>;

    struct Unit {
        bool raw = false;  // claimed by a raw handler, not a Modbus frame
        std::vector<std::uint8_t> bytes;
    };

    // How a stream that starts at stream[0] frames: a complete request of `length` bytes with
    // a good CRC, not yet decidable (more bytes needed), or no frame can start here. Out of
    // step, a function of unknown length is Bad rather than searched.
    enum class Framing { Complete, NeedMore, Bad };
    static Framing FrameAt(std::span<const std::uint8_t> stream, std::size_t& length, bool inStep = true);

    explicit RequestFramer(RawMatcher raw = {});

    void Append(std::span<const std::uint8_t> bytes);
    // The next whole unit, or nullopt until more bytes arrive.
    std::optional<Unit> Next();
    void Clear();

    // Bytes held waiting for the rest of a unit, and bytes dropped so far.
    std::size_t Held() const { return buf_.size() - head_; }
    std::size_t Dropped() const { return dropped_; }

private:
    Framing FrontFraming(std::size_t& length);
    bool GoodFrameAhead();
    void Consume(std::size_t n);

    RawMatcher raw_;
    std::vector<std::uint8_t> buf_;
    std::size_t head_ = 0;  // first byte not yet consumed
    bool inStep_ = true;
    std::size_t searched_ = 0;  // unknown function at the front: frame lengths already tried
    std::size_t settled_ = 0;   // look-ahead: below this no good frame can start (absolute)
    std::size_t ahead_ = 0;     // look-ahead: a good frame starts here, when above head_
    std::size_t dropped_ = 0;
};
