#pragma once
// What the update form, its worker and the retry dialogs share in the whole program: the
// progress counter (bytes acknowledged for the module in transfer), the image size, the
// image path chosen in the form, and who owns the link for a transfer.
//
// Thread contract: the counters are atomics (a worker writes progress, the user-interface
// thread reads it on its timer); the path is guarded; the link is owned by at most one
// worker at a time: TryAcquireLink before it starts, ReleaseLink when it has ended.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class UpdateShared {
public:
    std::atomic<std::uint32_t> progress{0};
    std::atomic<std::uint32_t> imageSize{0};

    void SetImagePath(std::string path);
    std::string ImagePath() const;

    // A batch and a retry must never talk on the port at once.
    bool TryAcquireLink() { return !linkOwned_.exchange(true); }
    void ReleaseLink() { linkOwned_ = false; }
    bool LinkOwned() const { return linkOwned_; }

private:
    mutable std::mutex mutex_;
    std::string imagePath_;
    std::atomic<bool> linkOwned_{false};
};

UpdateShared& TheUpdateShared();

// "12k / 60k": the counter and the size in whole KiB.
std::string ProgressText(std::uint32_t progress, std::uint32_t imageSize);
// (progress / 1024) * 100 / (size / 1024), 0..100; 0 for an image under 1 KiB, which has no
// whole KiB to divide by.
int ProgressPercent(std::uint32_t progress, std::uint32_t imageSize);
