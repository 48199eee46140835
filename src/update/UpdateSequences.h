#pragma once
// The update of one module over the bus, as the update worker and the retry worker run it.
//
// Sequence A updates a module that runs its application: the calibration snapshot
// (376..405), the handshake "ID%04d" + "TOKENKEY7305", the key "1" for each "==" pair at
// 74..77 of the banner, the transfer once "C" comes back, and the verdict by a second
// snapshot after the restart. Sequence B updates a module that already waits in its
// bootloader: the key "1" twice, and the transfer once "C" comes back.
//
//     std::atomic<std::uint32_t> progress{0};
//     UpdateSequences seq(link, clock, progress);
//     auto state = seq.SequenceA(5, "/home/me/fw.bin", run.updateLog, [](ModuleState s) { show(s); });
//     // nullopt: no bootloader answered, nothing was sent, the row keeps its text
//
// The pause closes the port: every wait then ends at once, the module in hand ends
// "升级失败!" (unless its image was already delivered), and a sequence started with the
// port closed sends nothing at all. An image that cannot be read, or whose path does not
// fit the header block, is refused before the module is touched.
//
// Thread contract: runs on one worker thread; `progress` and the logs are read by the
// user-interface thread meanwhile; the state callback is called on the worker.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/LinkState.h"
#include "link/UpdateLog.h"
#include "update/LinkWait.h"
#include "update/ModuleState.h"

class UpdateSequences {
public:
    static constexpr int kSnapshotStart = 376;
    static constexpr int kSnapshotCount = 30;
    static constexpr std::size_t kSnapshotReadBytes = 200;
    static constexpr std::size_t kHandshakeReadBytes = 1500;
    static constexpr std::size_t kKeyReadBytes = 300;
    static constexpr std::size_t kRetryFirstReadBytes = 200;
    static constexpr std::array<std::size_t, 3> kBannerPositions{74, 75, 76};
    static constexpr std::array<std::size_t, 6> kReadyOffsetsA{0, 1, 2, 35, 36, 37};
    static constexpr std::array<std::size_t, 8> kReadyOffsetsB{0, 1, 2, 3, 35, 36, 37, 38};

    // Sequence A.
    static constexpr int kSnapshotBeforeWaitMs = 150;
    static constexpr int kHandshakeReplyWaitMs = 800;
    static constexpr int kHandshakeSettleMs = 800;
    static constexpr int kKeyReplyWaitMs = 5000;
    static constexpr int kKeySettleMs = 2000;
    static constexpr int kKeyLoggedMs = 1000;
    static constexpr int kReadyWaitMs = 1000;  // twice before the transfer
    static constexpr int kRestartWaitMs = 6000;
    static constexpr int kSnapshotAfterWaitMs = 200;
    static constexpr int kVerdictWaitMs = 200;
    // Sequence B.
    static constexpr int kRetryFirstKeyWaitMs = 200;
    static constexpr int kRetryFirstSettleMs = 2000;
    static constexpr int kRetryKeyReplyWaitMs = 6000;
    static constexpr int kRetryKeySettleMs = 1000;
    static constexpr int kRetryKeySettle2Ms = 2000;
    static constexpr int kRetryKeyLoggedMs = 3000;
    static constexpr int kRetryReadyWaitMs = 1000;

    using Snapshot = std::array<std::uint16_t, kSnapshotCount>;
    using StateCallback = std::function<void(ModuleState)>;

    enum class RetryOutcome {
        NoBootloader,     // no "C" came: nothing sent, nothing reported
        Interrupted,      // the port was closed before a transfer began
        Delivered,        // "升级成功!"
        Failed,           // "升级失败!"
        ImageUnreadable,  // nothing sent (Problem() says why)
        PathTooLong,      // nothing sent
    };

    UpdateSequences(LinkState& link, Clock& clock, std::atomic<std::uint32_t>& progress)
        : link_(link), clock_(clock), progress_(progress), wait_(link, clock) {}

    // Called during transfers with the bytes acknowledged so far (a terminal's progress bar).
    void SetProgressObserver(std::function<void(std::uint32_t)> observer) { observer_ = std::move(observer); }
    // Sends an image larger than kImageCapBytes too (the user insisted); refused by default.
    void LiftImageCap(bool lifted) { overCap_ = lifted; }

    // The module at `address` (1..247), its banner replies appended to `log`. Returns the
    // module's last state, nullopt when it was left untouched (no "==", no "C", or the port
    // was closed before it began). `show` hears every state as it is set.
    std::optional<ModuleState> SequenceA(int address, const std::string& imagePath, UpdateLog& log,
                                         const StateCallback& show = {});
    // The module that waits in its bootloader; its replies appended to `log`.
    RetryOutcome SequenceB(const std::string& imagePath, UpdateLog& log);

    std::atomic<std::uint32_t>& Progress() const { return progress_; }
    // Whether the port is open now (a sequence that left its module untouched tells a pause
    // from a silent bootloader by it).
    bool PortOpen() const { return wait_.Open(); }
    // Why the image was refused by the last sequence; empty otherwise.
    const std::string& Problem() const { return problem_; }

    // "ID0047TOKENKEY7305" for 47; empty outside 1..247.
    static std::string HandshakeText(int address);
    // The snapshot of a function-03 reply of 30 registers; nullopt for a failed one or one of
    // another byte count.
    static std::optional<Snapshot> ParseSnapshot(const CProtocol& protocol,
                                                 std::span<const std::uint8_t> reply);

private:
    std::optional<Snapshot> ReadSnapshot(int address, int waitMs);
    // The image for the transfer, or nullopt with the refusing state and problem_ set.
    std::optional<std::vector<std::uint8_t>> TakeImage(const std::string& path, ModuleState& refused);
    // Before anything is sent: false with the refusing state and problem_ set.
    bool ImageSendable(const std::string& path, ModuleState& refused);
    std::uint8_t Transfer(const std::vector<std::uint8_t>& image, const std::string& path);

    LinkState& link_;
    Clock& clock_;
    std::atomic<std::uint32_t>& progress_;
    LinkWait wait_;
    std::function<void(std::uint32_t)> observer_;
    std::string problem_;
    bool overCap_ = false;
};
