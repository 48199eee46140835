#include "update/UpdateSequences.h"

#include <algorithm>
#include <cstdio>

#include "link/ModbusSession.h"
#include "update/ImageFile.h"
#include "update/YmodemSender.h"

namespace {

constexpr std::uint8_t kKey = '1';
constexpr std::uint8_t kReady = 'C';
constexpr std::uint8_t kBannerMark = '=';

// A reply as the log keeps it: the text up to its first zero byte.
std::string_view AsText(const std::vector<std::uint8_t>& reply) {
    const auto end = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    return {reinterpret_cast<const char*>(reply.data()), static_cast<std::size_t>(end - reply.begin())};
}

// The byte at i of a zero-filled receive buffer.
std::uint8_t At(const std::vector<std::uint8_t>& reply, std::size_t i) {
    return i < reply.size() ? reply[i] : 0;
}

template <std::size_t N>
bool ReadyAt(const std::vector<std::uint8_t>& reply, const std::array<std::size_t, N>& offsets) {
    return std::any_of(offsets.begin(), offsets.end(), [&](std::size_t i) { return At(reply, i) == kReady; });
}

}  // namespace

std::string UpdateSequences::HandshakeText(int address) {
    if (address < 1 || address > 247) return {};
    char id[8];
    std::snprintf(id, sizeof id, "ID%04d", address);
    return std::string(id) + "TOKENKEY7305";
}

std::optional<UpdateSequences::Snapshot> UpdateSequences::ParseSnapshot(const CProtocol& protocol,
                                                                        std::span<const std::uint8_t> reply) {
    std::array<std::int32_t, 128> values{};
    if (reply.size() < 5 || !protocol.CheckReadRegistersReply(reply, values)) return std::nullopt;
    if (reply[2] != 2 * kSnapshotCount) return std::nullopt;  // a good frame, but not of this request
    Snapshot s{};
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint16_t>(values[i] & 0xFFFF);
    return s;
}

std::optional<UpdateSequences::Snapshot> UpdateSequences::ReadSnapshot(int address, int waitMs) {
    LinkState at = link_;
    at.deviceAddress = address;
    ModbusSession session(at, clock_);
    const bool sent = session.SendReadRegisters(kSnapshotStart, kSnapshotCount);
    if (!wait_.For(waitMs) || !sent || link_.protocol == nullptr) return std::nullopt;
    const auto reply = session.ReadAvailable(kSnapshotReadBytes);
    return ParseSnapshot(*link_.protocol, reply);
}

bool UpdateSequences::ImageSendable(const std::string& path, ModuleState& refused) {
    const auto size = ProbeImage(path, problem_, overCap_);
    if (!size) {
        refused = ModuleState::ImageUnreadable;
        return false;
    }
    if (!YmodemSender::FitsInitialPacket(path, *size)) {
        problem_ =
            "the image path is too long for the header block (" + std::to_string(path.size()) + " bytes)";
        refused = ModuleState::PathTooLong;
        return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> UpdateSequences::TakeImage(const std::string& path,
                                                                    ModuleState& refused) {
    auto image = ReadImage(path, problem_, overCap_);
    if (!image) {
        refused = ModuleState::ImageUnreadable;
        return std::nullopt;
    }
    // The file may have grown since it was first looked at.
    if (!YmodemSender::FitsInitialPacket(path, static_cast<std::uint32_t>(image->size()))) {
        problem_ =
            "the image path is too long for the header block (" + std::to_string(path.size()) + " bytes)";
        refused = ModuleState::PathTooLong;
        return std::nullopt;
    }
    return image;
}

std::uint8_t UpdateSequences::Transfer(const std::vector<std::uint8_t>& image, const std::string& path) {
    YmodemSender sender(link_, clock_);
    if (observer_) sender.SetProgressObserver(observer_);
    return sender.Transmit(image, path, progress_);
}

std::optional<ModuleState> UpdateSequences::SequenceA(int address, const std::string& imagePath,
                                                      UpdateLog& log, const StateCallback& show) {
    progress_ = 0;
    problem_.clear();
    const std::string handshake = HandshakeText(address);
    // Paused before this module began: it is skipped without a byte on the line.
    if (handshake.empty() || !wait_.Open()) return std::nullopt;

    std::optional<ModuleState> state;
    bool delivered = false;
    const auto set = [&](ModuleState s) {
        state = s;
        if (show) show(s);
    };
    // The port closed under this module: a module not yet judged has failed; an image
    // already delivered keeps "升级中......" (no verdict), a verdict stays.
    const auto paused = [&] {
        if (!state || (*state == ModuleState::Updating && !delivered)) set(ModuleState::Failed);
        return state;
    };

    ModuleState refused = ModuleState::Failed;
    if (!ImageSendable(imagePath, refused)) {
        set(refused);
        return state;
    }

    const std::optional<Snapshot> before = ReadSnapshot(address, kSnapshotBeforeWaitMs);
    if (!wait_.Open()) return paused();

    ModbusSession session(link_, clock_);
    (void)session.Send(std::span(reinterpret_cast<const std::uint8_t*>(handshake.data()), handshake.size()));
    if (!wait_.For(kHandshakeReplyWaitMs)) return paused();
    const auto banner = session.ReadAvailable(kHandshakeReadBytes);
    if (!wait_.For(kHandshakeSettleMs)) return paused();
    log.Append(AsText(banner));

    for (const std::size_t i : kBannerPositions) {
        if (At(banner, i) != kBannerMark || At(banner, i + 1) != kBannerMark) continue;
        const std::array<std::uint8_t, 1> key{kKey};
        (void)session.Send(key);
        if (!wait_.For(kKeyReplyWaitMs)) return paused();
        const auto reply = session.ReadAvailable(kKeyReadBytes);
        if (!wait_.For(kKeySettleMs)) return paused();
        log.Append(AsText(reply));
        if (!wait_.For(kKeyLoggedMs)) return paused();
        if (!ReadyAt(reply, kReadyOffsetsA)) continue;
        if (!wait_.For(kReadyWaitMs) || !wait_.For(kReadyWaitMs)) return paused();

        set(ModuleState::Updating);
        delivered = false;
        auto image = TakeImage(imagePath, refused);
        if (!image) {
            // The same file would be refused at every later position too.
            set(refused);
            break;
        }
        const std::uint8_t result = Transfer(*image, imagePath);
        image.reset();  // freed right after the transfer, whatever its result
        if (result != YmodemSender::kDelivered) {
            set(ModuleState::Failed);
            continue;
        }
        delivered = true;
        if (!wait_.For(kRestartWaitMs)) return paused();
        const std::optional<Snapshot> after = ReadSnapshot(address, kSnapshotAfterWaitMs);
        if (!after) {
            if (!wait_.Open()) return paused();
            continue;  // no verdict: the state stays "升级中......"
        }
        if (!wait_.For(kVerdictWaitMs)) return paused();
        if (!before)
            set(ModuleState::UpdatedNoReference);
        else
            set(*before == *after ? ModuleState::UpdatedCalOk : ModuleState::UpdatedCalChanged);
    }
    return state;
}

UpdateSequences::RetryOutcome UpdateSequences::SequenceB(const std::string& imagePath, UpdateLog& log) {
    progress_ = 0;
    problem_.clear();
    if (!wait_.Open()) return RetryOutcome::Interrupted;
    ModuleState refused = ModuleState::Failed;
    if (!ImageSendable(imagePath, refused))
        return refused == ModuleState::PathTooLong ? RetryOutcome::PathTooLong
                                                   : RetryOutcome::ImageUnreadable;

    ModbusSession session(link_, clock_);
    const std::array<std::uint8_t, 1> key{kKey};
    (void)session.Send(key);
    if (!wait_.For(kRetryFirstKeyWaitMs)) return RetryOutcome::Interrupted;
    const auto menu = session.ReadAvailable(kRetryFirstReadBytes);
    if (!wait_.For(kRetryFirstSettleMs)) return RetryOutcome::Interrupted;
    log.Append(AsText(menu));

    (void)session.Send(key);
    if (!wait_.For(kRetryKeyReplyWaitMs)) return RetryOutcome::Interrupted;
    const auto reply = session.ReadAvailable(kKeyReadBytes);
    if (!wait_.For(kRetryKeySettleMs) || !wait_.For(kRetryKeySettle2Ms)) return RetryOutcome::Interrupted;
    log.Append(AsText(reply));
    if (!wait_.For(kRetryKeyLoggedMs)) return RetryOutcome::Interrupted;
    if (!ReadyAt(reply, kReadyOffsetsB)) return RetryOutcome::NoBootloader;
    if (!wait_.For(kRetryReadyWaitMs)) return RetryOutcome::Interrupted;

    auto image = TakeImage(imagePath, refused);
    if (!image)
        return refused == ModuleState::PathTooLong ? RetryOutcome::PathTooLong
                                                   : RetryOutcome::ImageUnreadable;
    const std::uint8_t result = Transfer(*image, imagePath);
    image.reset();
    return result == YmodemSender::kDelivered ? RetryOutcome::Delivered : RetryOutcome::Failed;
}
