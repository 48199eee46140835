// Framing of a master's byte stream without a pty: lengths, resynchronisation through noise,
// and the rule that a function of unknown length is searched for only in step.
#include <gtest/gtest.h>

#include <random>

#include "link/LinkState.h"
#include "sim/RequestFramer.h"
#include "support/Frames.h"

namespace {

using F = RequestFramer::Framing;

Frame ReadFrame(int addr, int start, int count) {
    Frame req(8);
    CModbusRtu().BuildReadRegisters(req, addr, start, count);
    return req;
}

Frame Noise(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Frame f(n);
    for (auto& b : f) b = static_cast<std::uint8_t>(byte(gen));
    return f;
}

// Feeds `stream` in pieces of `piece` bytes and returns every unit that came out.
std::vector<Frame> Feed(RequestFramer& framer, const Frame& stream, std::size_t piece) {
    std::vector<Frame> units;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::size_t n = std::min(piece, stream.size() - at);
        framer.Append(std::span(stream).subspan(at, n));
        while (auto unit = framer.Next()) units.push_back(unit->bytes);
    }
    return units;
}

}  // namespace

TEST(RequestFramer, FrameAtDecidesByLength) {
    std::size_t len = 0;
    const auto req = ReadFrame(1, 0, 10);
    EXPECT_EQ(RequestFramer::FrameAt(std::span(req).first(7), len), F::NeedMore);
    EXPECT_EQ(RequestFramer::FrameAt(req, len), F::Complete);
    EXPECT_EQ(len, 8u);
    const auto write = WithCrc({1, 0x10, 0x01, 0xF8, 0x00, 0x02, 0x04, 0, 1, 0, 2});
    EXPECT_EQ(RequestFramer::FrameAt(std::span(write).first(6), len), F::NeedMore);
    EXPECT_EQ(RequestFramer::FrameAt(std::span(write).first(12), len), F::NeedMore);
    EXPECT_EQ(RequestFramer::FrameAt(write, len), F::Complete);
    EXPECT_EQ(len, 13u);
    auto bad = write;
    bad[8] ^= 1;
    EXPECT_EQ(RequestFramer::FrameAt(bad, len), F::Bad);
    // A byte count of 255 wants 264 bytes and is not read past what is there.
    const Frame huge{1, 0x10, 0, 0, 0, 0x7F, 0xFF, 0, 0};
    EXPECT_EQ(RequestFramer::FrameAt(huge, len), F::NeedMore);
    // Functions the module does not serve still have their standard length.
    EXPECT_EQ(RequestFramer::FrameAt(WithCrc({1, 0x07}), len), F::Complete);
    EXPECT_EQ(len, 4u);
    const auto device = WithCrc({1, 0x2B, 0x0E, 0x01, 0x00});
    EXPECT_EQ(RequestFramer::FrameAt(device, len, false), F::Complete);
    // An unknown function: any length with a good CRC in step, noise out of step.
    const auto unknown = WithCrc({1, 0x41, 0x00, 0x01, 0x02});
    EXPECT_EQ(RequestFramer::FrameAt(unknown, len), F::Complete);
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(RequestFramer::FrameAt(unknown, len, false), F::Bad);
    EXPECT_EQ(RequestFramer::FrameAt(std::span(unknown).first(6), len), F::NeedMore);
    EXPECT_EQ(RequestFramer::FrameAt(Frame(300, 0xEE), len), F::Bad);
}

TEST(RequestFramer, NoiseBurstIsDroppedWholeAndTheFrameBehindItServed) {
    auto stream = Noise(4000, 7);
    const auto good = ReadFrame(1, 0, 10);
    stream.insert(stream.end(), good.begin(), good.end());
    // At once, in the pty's chunks, and trickling a byte at a time.
    for (const std::size_t piece : {stream.size(), std::size_t{4096 / 3}, std::size_t{1}}) {
        RequestFramer framer;
        EXPECT_EQ(Feed(framer, stream, piece), std::vector<Frame>{good}) << piece;
        EXPECT_EQ(framer.Dropped(), 4000u) << piece;
        EXPECT_EQ(framer.Held(), 0u) << piece;
    }
}

TEST(RequestFramer, UnknownFunctionIsServedOnlyInStep) {
    auto noisy = ReadFrame(1, 0, 10);
    noisy[7] ^= 0xFF;
    const auto good = ReadFrame(1, 0, 10);
    const auto unknown = WithCrc({1, 0x41, 0x00, 0x01, 0x02});
    const auto join = [](std::initializer_list<Frame> parts) {
        Frame f;
        for (const auto& p : parts) f.insert(f.end(), p.begin(), p.end());
        return f;
    };
    RequestFramer framer;
    EXPECT_EQ(Feed(framer, unknown, 3), std::vector<Frame>{unknown});  // at the start
    // Right behind noise it is noise too: searching every length there is what made
    // garbage expensive.
    EXPECT_TRUE(Feed(framer, join({noisy, unknown}), 15).empty());
    // A frame of known length puts the stream in step again.
    EXPECT_EQ(Feed(framer, join({good, unknown}), 15), (std::vector<Frame>{good, unknown}));
    EXPECT_EQ(framer.Dropped(), noisy.size() + unknown.size());
    EXPECT_EQ(framer.Held(), 0u);
}
