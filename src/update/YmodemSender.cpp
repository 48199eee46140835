#include "update/YmodemSender.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "link/ModbusSession.h"

namespace {

std::string_view UpToZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

std::size_t DigitCount(std::uint32_t value) {
    std::size_t n = 0;
    for (; value != 0; value /= 10) ++n;
    return n;
}

}  // namespace

std::uint16_t YmodemSender::Crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (b << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::size_t YmodemSender::IntToDecimal(std::span<char, kMaxDigits + 1> text, std::uint32_t value) {
    std::size_t n = 0;
    bool leading = true;
    for (std::uint32_t place = 1000000000u; place != 0; place /= 10) {
        const auto digit = static_cast<char>('0' + value / place % 10);
        if (leading && digit == '0') continue;
        leading = false;
        text[n++] = digit;
    }
    text[n] = '\0';
    return n;
}

bool YmodemSender::FitsInitialPacket(std::string_view fileName, std::uint32_t size) {
    const std::size_t n = UpToZero(fileName).size();
    return n <= kMaxFileName && n + 1 + DigitCount(size) + 1 <= kHeaderData;
}

bool YmodemSender::PrepareInitialPacket(Packet packet, std::string_view fileName, std::uint32_t size) {
    if (!FitsInitialPacket(fileName, size)) return false;
    const std::string_view name = UpToZero(fileName);
    std::fill_n(packet.begin(), 3 + kHeaderData, std::uint8_t{0});
    packet[0] = kSoh;
    packet[1] = 0x00;
    packet[2] = 0xFF;
    std::memcpy(packet.data() + 3, name.data(), name.size());
    std::array<char, kMaxDigits + 1> digits{};
    const std::size_t d = IntToDecimal(digits, size);
    std::memcpy(packet.data() + 4 + name.size(), digits.data(), d);
    return true;
}

void YmodemSender::PreparePacket(std::span<const std::uint8_t> source, Packet packet,
                                 std::uint8_t blockNumber) {
    packet[0] = kStx;
    packet[1] = blockNumber;
    packet[2] = static_cast<std::uint8_t>(~blockNumber);
    const std::size_t n = std::min(source.size(), kBlockData);
    std::copy_n(source.begin(), n, packet.begin() + 3);
    std::fill(packet.begin() + 3 + static_cast<std::ptrdiff_t>(n), packet.begin() + 3 + kBlockData, kPadding);
}

void YmodemSender::StoreCrc(std::span<std::uint8_t> packet) {
    const std::size_t data = packet.size() - 5;
    const std::uint16_t crc = Crc16(packet.subspan(3, data));
    packet[3 + data] = static_cast<std::uint8_t>(crc >> 8);
    packet[4 + data] = static_cast<std::uint8_t>(crc & 0xFF);
}

YmodemSender::Ack YmodemSender::AwaitAck(int pollMs) {
    ModbusSession session(link_, clock_);
    for (int poll = 0; poll < kPolls; ++poll) {
        if (!wait_.For(pollMs)) return Ack::PortClosed;
        // Anything but an ACK first (a NAK, a CAN, noise, nothing) is no answer yet.
        const auto rx = session.ReadAvailable(kAckReadBytes);
        if (!rx.empty() && rx[0] == kAck) return Ack::Received;
        if (!wait_.Open()) return Ack::PortClosed;
    }
    return Ack::NotReceived;
}

YmodemSender::Ack YmodemSender::SendAndAwait(std::span<std::uint8_t> packet, int settleMs, int pollMs) {
    ModbusSession session(link_, clock_);
    for (int sending = 0; sending < kSendings; ++sending) {
        if (packet.size() > 1) StoreCrc(packet);
        if (!wait_.Open()) return Ack::PortClosed;
        (void)session.Send(packet);
        if (settleMs > 0 && !wait_.For(settleMs)) return Ack::PortClosed;
        const Ack ack = AwaitAck(pollMs);
        if (ack != Ack::NotReceived) return ack;
    }
    return Ack::NotReceived;
}

std::uint8_t YmodemSender::Transmit(std::span<const std::uint8_t> image, std::string_view fileName,
                                    std::atomic<std::uint32_t>& progress) {
    if (image.size() > std::numeric_limits<std::uint32_t>::max()) return kRefused;
    const auto size = static_cast<std::uint32_t>(image.size());
    std::array<std::uint8_t, kBlockPacket> buffer{};
    if (!PrepareInitialPacket(buffer, fileName, size)) return kRefused;
    const std::span<std::uint8_t> header(buffer.data(), kHeaderPacket);
    if (SendAndAwait(header, kHeaderSettleMs, kAckPollMs) != Ack::Received) return kNoAcknowledge;

    // The packet carries the low 8 bits of the number; the guard counts every block.
    std::uint32_t blockNumber = 1;
    std::int64_t remaining = size;
    std::size_t offset = 0;
    while (remaining > 0) {
        const std::uint32_t done = remaining < size ? static_cast<std::uint32_t>(size - remaining) : 0;
        progress = done;
        if (observer_) observer_(done);
        PreparePacket(image.subspan(offset), buffer, static_cast<std::uint8_t>(blockNumber & 0xFF));
        if (SendAndAwait(buffer, 0, kAckPollMs) != Ack::Received) return kNoAcknowledge;
        remaining -= static_cast<std::int64_t>(kBlockData);
        if (remaining <= 0) break;
        offset += kBlockData;
        if (blockNumber > size / kBlockData + 1) return kBlockOverrun;
        ++blockNumber;
    }

    std::array<std::uint8_t, 1> eot{kEot};
    if (SendAndAwait(eot, 0, kAckPollMs) != Ack::Received) return kNoAcknowledge;

    std::fill_n(buffer.begin(), kHeaderPacket, std::uint8_t{0});
    buffer[0] = kSoh;
    buffer[2] = 0xFF;
    return SendAndAwait(header, 0, kClosingPollMs) == Ack::Received ? kDelivered : kNoAcknowledge;
}
