#pragma once
// The image sender of the update, as the module's bootloader receives it: a header block
// (SOH, the path and the decimal size), 1029-byte data blocks (STX, number, complement,
// 1024 bytes padded with 0x1A, CRC high byte first), EOT and an all-zero closing header.
// The CRC is CRC-16/CCITT-FALSE (it starts at 0xFFFF); every packet is sent at most twice,
// and its acknowledge is polled: 1000 times 200 ms (3 ms for the closing block).
//
//     std::atomic<std::uint32_t> progress{0};
//     YmodemSender sender(link, clock);
//     if (sender.Transmit(image, "/home/me/fw.bin", progress) != YmodemSender::kDelivered) fail();
//
// Once the port is closed (the pause), a poll or wait in progress ends and Transmit returns
// kNoAcknowledge at once, however many polls were left.
//
// Thread contract: Transmit blocks its caller (the update worker) and writes `progress`,
// which the user-interface thread may read at any time. The static builders are pure.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "link/Clock.h"
#include "link/LinkState.h"
#include "update/LinkWait.h"

class YmodemSender {
public:
    static constexpr std::uint8_t kSoh = 0x01;
    static constexpr std::uint8_t kStx = 0x02;
    static constexpr std::uint8_t kEot = 0x04;
    static constexpr std::uint8_t kAck = 0x06;
    static constexpr std::uint8_t kPadding = 0x1A;

    static constexpr std::size_t kHeaderData = 128;
    static constexpr std::size_t kBlockData = 1024;
    static constexpr std::size_t kHeaderPacket = 3 + kHeaderData + 2;  // 133
    static constexpr std::size_t kBlockPacket = 3 + kBlockData + 2;    // 1029
    static constexpr std::size_t kMaxFileName = 255;
    static constexpr std::size_t kMaxDigits = 10;

    static constexpr int kHeaderSettleMs = 200;  // after block 0, before its polls
    static constexpr int kAckPollMs = 200;
    static constexpr int kClosingPollMs = 3;
    static constexpr int kPolls = 1000;
    static constexpr int kSendings = 2;
    static constexpr std::size_t kAckReadBytes = 2;

    // Results; callers treat anything but kDelivered as failure.
    static constexpr std::uint8_t kDelivered = 0;
    static constexpr std::uint8_t kRefused = 1;  // name too long for block 0, or image of 4 GiB: nothing sent
    static constexpr std::uint8_t kNoAcknowledge = 2;
    static constexpr std::uint8_t kBlockOverrun = 0xFF;

    using Packet = std::span<std::uint8_t, kBlockPacket>;

    YmodemSender(LinkState& link, Clock& clock) : link_(link), clock_(clock), wait_(link, clock) {}

    // Sends the whole image under fileName (up to its first zero byte). progress is set to the
    // bytes acknowledged before each data block. Images of 4 GiB and more are refused.
    std::uint8_t Transmit(std::span<const std::uint8_t> image, std::string_view fileName,
                          std::atomic<std::uint32_t>& progress);

    // Called on the sending thread right after the progress counter was set (a terminal's
    // progress bar); none by default.
    void SetProgressObserver(std::function<void(std::uint32_t)> observer) { observer_ = std::move(observer); }

    // Whether block 0 holds the name, its zero, the size's digits and at least one zero
    // after them.
    static bool FitsInitialPacket(std::string_view fileName, std::uint32_t size);
    // Block 0 in the first 133 bytes of packet, all but its CRC; false (packet untouched)
    // when the name does not fit.
    static bool PrepareInitialPacket(Packet packet, std::string_view fileName, std::uint32_t size);
    // A data block from the first min(source.size(), 1024) bytes of source, padded with
    // 0x1A; all but its CRC.
    static void PreparePacket(std::span<const std::uint8_t> source, Packet packet, std::uint8_t blockNumber);
    // CRC-16/CCITT-FALSE; 0xFFFF for no bytes.
    static std::uint16_t Crc16(std::span<const std::uint8_t> bytes);
    // The decimal digits of value, no leading zeros, zero-terminated; 0 gives "". Returns
    // the number of digits.
    static std::size_t IntToDecimal(std::span<char, kMaxDigits + 1> text, std::uint32_t value);

private:
    enum class Ack { Received, NotReceived, PortClosed };
    // Stores the CRC of the data part behind it.
    static void StoreCrc(std::span<std::uint8_t> packet);
    // Sends the packet (its CRC stored first, unless it is the one EOT byte) up to twice,
    // each time waiting settleMs and then polling for the ACK.
    Ack SendAndAwait(std::span<std::uint8_t> packet, int settleMs, int pollMs);
    Ack AwaitAck(int pollMs);

    LinkState& link_;
    Clock& clock_;
    LinkWait wait_;
    std::function<void(std::uint32_t)> observer_;
};
