#include "calibration/CalibrationMemory.h"

CalibrationKey CalibrationMemory::KeyOf(const LinkState& link, int circuit) {
    return CalibrationKey{link.portName, link.deviceAddress, circuit};
}

void CalibrationMemory::Follow(const LinkState& link) const {
    if (link.connects == connection_) return;
    kept_.clear();
    connection_ = link.connects;
}

void CalibrationMemory::Keep(const LinkState& link, int circuit, KeptGains gains) {
    Follow(link);
    kept_[KeyOf(link, circuit)] = gains;
}

std::optional<KeptGains> CalibrationMemory::Find(const LinkState& link, int circuit) const {
    Follow(link);
    const auto it = kept_.find(KeyOf(link, circuit));
    if (it == kept_.end()) return std::nullopt;
    return it->second;
}

void CalibrationMemory::Forget(const LinkState& link, int circuit) {
    Follow(link);
    kept_.erase(KeyOf(link, circuit));
}

void CalibrationMemory::ForgetAll() {
    kept_.clear();
}
