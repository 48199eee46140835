#include "sim/SimPort.h"

#include <algorithm>

SimPort::SimPort(VirtualBus& bus, Clock& clock) : bus_(bus), clock_(clock) {}

bool SimPort::Open(int baud) {
    if (baud <= 0) return false;
    baud_ = baud;
    open_ = true;
    pending_.clear();
    taken_ = 0;
    readyAt_ = Clock::Micros{0};
    sent_.clear();
    return true;
}

void SimPort::Close() {
    open_ = false;
    pending_.clear();
    taken_ = 0;
}

Clock::Micros SimPort::WireTime(std::size_t bytes) const {
    return Clock::Micros(static_cast<std::int64_t>(bytes) * 10 * 1000000 / baud_);
}

int SimPort::Write(std::span<const std::uint8_t> data) {
    pending_.clear();
    taken_ = 0;
    readyAt_ = Clock::Micros{0};
    if (!open_) return 0;
    sent_.emplace_back(data.begin(), data.end());
    if (auto reply = bus_.Process(data, baud_)) {
        pending_ = std::move(reply->bytes);
        readyAt_ = clock_.now() + WireTime(data.size()) + Clock::Micros(std::int64_t{reply->delayMs} * 1000) +
                   WireTime(pending_.size());
    }
    return static_cast<int>(data.size());
}

int SimPort::Read(std::span<std::uint8_t> buf) {
    std::fill(buf.begin(), buf.end(), std::uint8_t{0});
    if (!open_ || pending_.empty() || clock_.now() < readyAt_) return 0;
    const std::size_t n = std::min(buf.size(), pending_.size() - taken_);
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(taken_), n, buf.begin());
    taken_ += n;
    if (taken_ == pending_.size()) {
        pending_.clear();
        taken_ = 0;
    }
    return static_cast<int>(n);
}
