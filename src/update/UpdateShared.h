#pragma once
// What the update form, its worker and the retry dialogs share for the whole run: the
// progress counter (bytes acknowledged for the module in transfer), the image size, the
// image path chosen in the form, and who owns the link for a transfer.
//
// Thread contract: the counters are atomics (a worker writes progress, the user-interface
// thread reads it on its timer); the path is guarded; the link is owned by at most one
// user at a time (the scan, the batch or one retry): TryAcquireLink before it starts,
// ReleaseLink when it has ended.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class UpdateShared {
public:
    std::atomic<std::uint32_t> progress{0};
    std::atomic<std::uint32_t> imageSize{0};

    void SetImagePath(std::string path);
    std::string ImagePath() const;

    // Who talks on the port for the update: the scan's reads would swallow a transfer's
    // acknowledges, and two transfers would share one progress counter.
    enum class LinkUser : std::uint8_t { None, Scan, Batch, Retry };

    // False, and nothing changes, while another user holds the link.
    bool TryAcquireLink(LinkUser user = LinkUser::Batch) {
        LinkUser none = LinkUser::None;
        return user != LinkUser::None && linkOwner_.compare_exchange_strong(none, user);
    }
    void ReleaseLink() { linkOwner_ = LinkUser::None; }
    bool LinkOwned() const { return linkOwner_ != LinkUser::None; }
    LinkUser LinkOwner() const { return linkOwner_; }

private:
    mutable std::mutex mutex_;
    std::string imagePath_;
    std::atomic<LinkUser> linkOwner_{LinkUser::None};
};

// Why a scan or a transfer may not start now: the message naming who holds the link; empty
// when it is free.
std::string_view LinkBusyText(UpdateShared::LinkUser owner);

// "12k / 60k": the counter and the size in whole KiB.
std::string ProgressText(std::uint32_t progress, std::uint32_t imageSize);
// (progress / 1024) * 100 / (size / 1024), 0..100; 0 for an image under 1 KiB, which has no
// whole KiB to divide by.
int ProgressPercent(std::uint32_t progress, std::uint32_t imageSize);
