#include "update/BusScan.h"

#include <algorithm>
#include <array>

#include "link/ModbusSession.h"

int BusScan::PeriodMsFor(int baud) {
    switch (baud) {
        case 2400:
            return 380;
        case 4800:
            return 350;
        case 9600:
            return 300;
        case 19200:
            return 250;
        default:
            return 200;
    }
}

namespace {
// The scan's own view of the link: silence at an address is its answer, not a failure, so its
// exchanges leave the link's record alone (a lost port still says so through the port).
LinkState Quiet(const LinkState& link, int address) {
    LinkState at = link;
    at.deviceAddress = address;
    at.lastExchange = nullptr;
    return at;
}
}  // namespace

bool BusScan::SendRequest(int address) {
    LinkState at = Quiet(link_, address);
    return ModbusSession(at, clock_).SendReadRegisters(kAddressRegister, 1);
}

BusScan::StartResult BusScan::Start(int from, int to) {
    if (!ModbusSession(link_, clock_).Connected()) return StartResult::NotConnected;
    if (!RangeAllowed(from, to)) return StartResult::OutOfRange;
    from_ = from;
    to_ = to;
    current_ = from;
    queried_ = 0;
    found_.clear();
    periodMs_ = PeriodMsFor(BaudRateOf(link_.baudIndex));
    (void)SendRequest(current_);
    running_ = true;
    clock_.sleep(kRequestWaitMs);
    return StartResult::Started;
}

int BusScan::Percent() const {
    // A start above the end polls one address: it counts as a range of one, not a division by zero.
    const int span = std::max(to_ - from_ + 1, 1);
    return std::clamp((current_ - from_) * 100 / span, 0, 100);
}

BusScan::TickResult BusScan::OnTick() {
    TickResult r;
    if (!running_) return r;
    LinkState at = Quiet(link_, link_.deviceAddress);
    ModbusSession session(at, clock_);
    const auto reply = session.ReadAvailable(kReplyBytes);
    if (!session.Connected()) {
        // The rest of the range would only be waited out: no address can answer any more.
        running_ = false;
        r.portGone = true;
        return r;
    }
    clock_.sleep(kReplyWaitMs);
    std::array<std::int32_t, 128> values{};
    r.valid = link_.protocol != nullptr && reply.size() >= 5 &&
              link_.protocol->CheckReadRegistersReply(reply, values);
    // Only a byte count of exactly one register names an address; any other is no answer to this request.
    r.found = r.valid && reply[2] == 2 && values[0] == current_;
    if (r.found && found_.size() < static_cast<std::size_t>(kMaxAddress)) found_.push_back(current_);
    ++queried_;
    ++current_;
    if (current_ <= to_) {
        (void)SendRequest(current_);
        clock_.sleep(kRequestWaitMs);
    } else {
        running_ = false;
        r.finished = true;
    }
    return r;
}

bool BusScan::RunToEnd(const std::function<bool()>& keepGoing,
                       const std::function<void(const TickResult&)>& onTick) {
    const Clock::Micros period(std::int64_t{periodMs_} * 1000);
    Clock::Micros next = clock_.now() + period;
    while (running_) {
        if (keepGoing && !keepGoing()) {
            Stop();
            return false;
        }
        if (const Clock::Micros left = next - clock_.now(); left.count() > 0) clock_.sleepFor(left);
        const TickResult r = OnTick();
        if (onTick) onTick(r);
        if (r.finished) return true;
        // A tick longer than the period is followed at once, as a window timer does.
        next = std::max(next + period, clock_.now());
    }
    return false;
}
