#include "sim/SimPort.h"

#include <algorithm>

SimPort::SimPort(VirtualBus& bus, Clock& clock) : bus_(bus), clock_(clock) {}

bool SimPort::Open(int baud) {
    if (baud <= 0) return false;
    const std::lock_guard lock(mutex_);
    baud_ = baud;
    ++generation_;
    PurgeLocked();
    sent_.clear();
    open_ = true;
    return true;
}

void SimPort::Close() {
    const std::lock_guard lock(mutex_);
    open_ = false;
    ++generation_;
    PurgeLocked();
}

void SimPort::PurgeLocked() {
    pending_.clear();
    due_.clear();
    taken_ = 0;
}

int SimPort::Baud() const {
    const std::lock_guard lock(mutex_);
    return baud_;
}

int SimPort::CharTimeMs() const {
    const std::lock_guard lock(mutex_);
    return 10000 / baud_ + 1;
}

Clock::Micros SimPort::WireTime(std::size_t bytes) const {
    const std::lock_guard lock(mutex_);
    return WireTimeLocked(bytes);
}

Clock::Micros SimPort::WireTimeLocked(std::size_t bytes) const {
    return Clock::Micros(static_cast<std::int64_t>(bytes) * 10 * 1000000 / baud_);
}

Clock::Micros SimPort::ByteDueAt(std::size_t index) const {
    const std::lock_guard lock(mutex_);
    return index < pending_.size() ? ArrivalLocked(index) : Clock::Micros{0};
}

std::vector<std::vector<std::uint8_t>> SimPort::Sent() const {
    const std::lock_guard lock(mutex_);
    return sent_;
}

int SimPort::Write(std::span<const std::uint8_t> data) {
    const std::lock_guard lock(mutex_);
    ++generation_;
    if (!open_) {
        PurgeLocked();
        return 0;
    }
    // The purge takes what has arrived; what is still on the wire comes in after it.
    const Clock::Micros now = clock_.now();
    std::size_t arrived = taken_;
    while (arrived < pending_.size() && due_[arrived] <= now) ++arrived;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(arrived));
    due_.erase(due_.begin(), due_.begin() + static_cast<std::ptrdiff_t>(arrived));
    taken_ = 0;
    sent_.emplace_back(data.begin(), data.end());
    if (auto reply = bus_.Process(data, baud_)) {
        // A module still sending its last reply turns round only after it.
        Clock::Micros start = now + WireTimeLocked(data.size());
        if (!due_.empty()) start = std::max(start, due_.back());
        start += Clock::Micros(std::int64_t{reply->delayMs} * 1000);
        const Clock::Micros pause(std::int64_t{reply->pauseMs} * 1000);
        for (std::size_t i = 0; i < reply->bytes.size(); ++i) {
            const bool paused = reply->pauseAt > 0 && i >= reply->pauseAt;
            due_.push_back(start + WireTimeLocked(i + 1) + (paused ? pause : Clock::Micros{0}));
        }
        pending_.insert(pending_.end(), reply->bytes.begin(), reply->bytes.end());
    }
    return static_cast<int>(data.size());
}

int SimPort::Read(std::span<std::uint8_t> buf) {
    std::fill(buf.begin(), buf.end(), std::uint8_t{0});
    std::unique_lock lock(mutex_);
    if (!open_ || buf.empty()) return 0;
    const Clock::Micros now = clock_.now();
    const std::size_t total = pending_.size();
    // Bytes already there are taken whatever the gaps between them were.
    std::size_t end = taken_;
    while (end < total && end - taken_ < buf.size() && ArrivalLocked(end) <= now) ++end;
    if (end == taken_) return 0;

    const Clock::Micros c(std::int64_t{10000 / baud_ + 1} * 1000);
    const Clock::Micros gap = 3 * c;
    const Clock::Micros bound = now + c * static_cast<std::int64_t>(buf.size());
    while (end < total && end - taken_ < buf.size()) {
        const Clock::Micros due = ArrivalLocked(end);
        if (due > bound || due - ArrivalLocked(end - 1) > gap) break;
        ++end;
    }
    const std::size_t count = end - taken_;
    const Clock::Micros last = ArrivalLocked(end - 1);
    // A full buffer returns with its last byte; a short Read waits out the gap that ends it.
    const Clock::Micros until = count == buf.size() ? last : std::min(last + gap, bound);
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(taken_), count, buf.begin());
    taken_ = end;
    if (taken_ == total) PurgeLocked();
    const std::uint64_t generation = generation_;
    lock.unlock();

    // Not under the lock: a test's clock may hold this sleep until the test moves time on.
    if (const Clock::Micros left = until - clock_.now(); left.count() > 0) clock_.sleepFor(left);

    lock.lock();
    if (generation != generation_) {
        std::fill(buf.begin(), buf.end(), std::uint8_t{0});
        return 0;
    }
    return static_cast<int>(count);
}
