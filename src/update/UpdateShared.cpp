#include "update/UpdateShared.h"

#include <algorithm>

#include "update/ModuleState.h"

void UpdateShared::SetImagePath(std::string path) {
    const std::lock_guard lock(mutex_);
    imagePath_ = std::move(path);
}

std::string UpdateShared::ImagePath() const {
    const std::lock_guard lock(mutex_);
    return imagePath_;
}

std::string ProgressText(std::uint32_t progress, std::uint32_t imageSize) {
    return std::to_string(progress / 1024) + "k / " + std::to_string(imageSize / 1024) + "k";
}

int ProgressPercent(std::uint32_t progress, std::uint32_t imageSize) {
    const std::uint64_t whole = imageSize / 1024;
    if (whole == 0) return 0;
    return static_cast<int>(std::min<std::uint64_t>(std::uint64_t{progress / 1024} * 100 / whole, 100));
}

std::string_view LinkBusyText(UpdateShared::LinkUser owner) {
    using U = UpdateShared::LinkUser;
    switch (owner) {
        case U::None:
            return {};
        case U::Scan:
            return update_text::kScanRunning;
        case U::Batch:
        case U::Retry:
            return update_text::kLinkBusy;
    }
    return {};
}
