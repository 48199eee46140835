#include "sim/VirtualBus.h"

#include <algorithm>

#include "link/ModbusRtu.h"

namespace {

bool CrcOk(std::span<const std::uint8_t> f) {
    if (f.size() < 4) return false;
    const std::uint16_t crc = Crc16Modbus(f.first(f.size() - 2));
    return f[f.size() - 2] == (crc & 0xFF) && f[f.size() - 1] == (crc >> 8);
}

void Recrc(std::vector<std::uint8_t>& f) {
    const std::uint16_t crc = Crc16Modbus(std::span<const std::uint8_t>(f.data(), f.size() - 2));
    f[f.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
    f[f.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace

VirtualBus::VirtualBus(Clock& clock) : clock_(clock) {}

VirtualModule& VirtualBus::AddModule(int address, int baudIndex) {
    std::lock_guard lock(mutex_);
    for (auto& m : modules_)
        if (m->Address() == address) {
            m = std::make_unique<VirtualModule>(address, baudIndex);
            return *m;
        }
    modules_.push_back(std::make_unique<VirtualModule>(address, baudIndex));
    return *modules_.back();
}

std::size_t VirtualBus::ModuleCount() const {
    std::lock_guard lock(mutex_);
    return modules_.size();
}

VirtualModule* VirtualBus::FindLocked(int address) {
    for (auto& m : modules_)
        if (m->Address() == address) return m.get();
    return nullptr;
}

RawHandler::Match VirtualBus::MatchRaw(std::span<const std::uint8_t> stream, int baud,
                                       std::size_t& length) const {
    std::lock_guard lock(mutex_);
    return MatchRawLocked(stream, baud, length);
}

RawHandler::Match VirtualBus::MatchRawLocked(std::span<const std::uint8_t> stream, int baud,
                                             std::size_t& length) const {
    RawHandler::Match best = RawHandler::Match::No;
    for (const auto& m : modules_) {
        if (m->Raw() == nullptr || !AtRate(*m, baud)) continue;
        std::size_t n = 0;
        const RawHandler::Match r = m->Raw()->MatchRaw(stream, n);
        if (r == RawHandler::Match::Complete && n > 0 && n <= stream.size()) {
            if (best != RawHandler::Match::Complete || n < length) length = n;
            best = RawHandler::Match::Complete;
        } else if (r == RawHandler::Match::NeedMore && best == RawHandler::Match::No) {
            best = RawHandler::Match::NeedMore;
        }
    }
    return best;
}

std::optional<BusReply> VirtualBus::ProcessRawLocked(std::span<const std::uint8_t> request, int baud,
                                                     Clock::Micros now) {
    std::optional<BusReply> out;
    std::size_t length = 0;
    while (!request.empty() && MatchRawLocked(request, baud, length) == RawHandler::Match::Complete) {
        const auto unit = request.first(length);
        for (auto& m : modules_) {
            std::size_t n = 0;
            if (m->Raw() == nullptr || !AtRate(*m, baud) ||
                m->Raw()->MatchRaw(unit, n) != RawHandler::Match::Complete || n != length)
                continue;
            auto bytes = m->Raw()->HandleRaw(*m, unit, now);
            if (!out) out.emplace();
            out->baud = m->BaudRate();
            // Handlers that answer the same unit talk over each other; the slowest sets the time.
            out->delayMs = std::max(out->delayMs, m->TurnaroundMs() + m->Raw()->ExtraDelayMs());
            out->bytes.insert(out->bytes.end(), bytes.begin(), bytes.end());
        }
        if (!out) out.emplace();  // claimed, even if nobody answers it
        request = request.subspan(length);
    }
    return out;
}

std::optional<BusReply> VirtualBus::Process(std::span<const std::uint8_t> request, int baud) {
    std::lock_guard lock(mutex_);
    const Clock::Micros now = clock_.now();
    if (auto raw = ProcessRawLocked(request, baud, now)) {
        if (raw->bytes.empty()) return std::nullopt;
        return raw;
    }
    if (!CrcOk(request)) return std::nullopt;
    const int address = request[0];
    if (address == 0) {
        // Broadcast: every module at the line rate acts, none answers.
        for (auto& m : modules_)
            if (baud == 0 || m->BaudRate() == baud) (void)m->Handle(request, now);
        return std::nullopt;
    }
    VirtualModule* m = FindLocked(address);
    // A module at another rate sees noise, not a frame.
    if (m == nullptr || (baud != 0 && m->BaudRate() != baud)) return std::nullopt;

    BusFault fault;
    if (auto it = faults_.find(address);
        it != faults_.end() && (it->second.function == 0 || it->second.function == request[1])) {
        fault = it->second;
        if (it->second.count > 0 && --it->second.count == 0) faults_.erase(it);
    }
    BusReply reply;
    reply.baud = m->BaudRate();
    reply.delayMs = m->TurnaroundMs();
    if (fault.kind == BusFault::Kind::Refused) {
        reply.bytes = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(request[1] | 0x80),
                       fault.exceptionCode, 0, 0};
        Recrc(reply.bytes);
        return reply;
    }
    if (fault.kind == BusFault::Kind::Ignored) {
        // A write's echo: address, function, start and count (or coil and value).
        reply.bytes.assign(request.begin(),
                           request.begin() + std::min<std::ptrdiff_t>(6, std::ssize(request) - 2));
        reply.bytes.insert(reply.bytes.end(), {0, 0});
        Recrc(reply.bytes);
        return reply;
    }
    reply.bytes = m->Handle(request, now);
    if (reply.bytes.empty()) return std::nullopt;

    switch (fault.kind) {
        case BusFault::Kind::None:
            break;
        case BusFault::Kind::NoReply:
            return std::nullopt;
        case BusFault::Kind::Late:
            if (fault.lateAfter == 0) {
                reply.delayMs += fault.extraMs;
            } else if (fault.lateAfter < reply.bytes.size()) {
                reply.pauseAt = fault.lateAfter;
                reply.pauseMs = fault.extraMs;
            }
            break;
        case BusFault::Kind::BadCrc:
            reply.bytes.back() ^= 0x5A;
            break;
        case BusFault::Kind::Exception:
            reply.bytes = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(request[1] | 0x80),
                           fault.exceptionCode, 0, 0};
            Recrc(reply.bytes);
            break;
        case BusFault::Kind::Garbage:
            reply.bytes.insert(reply.bytes.begin(), fault.garbage.begin(), fault.garbage.end());
            break;
        case BusFault::Kind::WrongAddress:
            reply.bytes[0] = static_cast<std::uint8_t>(address % 247 + 1);
            Recrc(reply.bytes);
            break;
        case BusFault::Kind::Refused:
        case BusFault::Kind::Ignored:
            break;  // answered above
    }
    return reply;
}

void VirtualBus::InjectFault(int address, BusFault fault) {
    std::lock_guard lock(mutex_);
    faults_[address] = std::move(fault);
}

void VirtualBus::ClearFault(int address) {
    std::lock_guard lock(mutex_);
    faults_.erase(address);
}

std::optional<std::uint16_t> VirtualBus::ReadRegister(int address, int reg) {
    std::lock_guard lock(mutex_);
    VirtualModule* m = FindLocked(address);
    if (m == nullptr) return std::nullopt;
    return m->ReadRegister(reg, clock_.now());
}

bool VirtualBus::SetRegister(int address, int reg, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    VirtualModule* m = FindLocked(address);
    if (m == nullptr) return false;
    const bool ok = m->WriteRegister(reg, value, clock_.now()) || m->SetStored(reg, value);
    m->ApplyPending();
    return ok;
}

bool VirtualBus::WithModule(int address, const std::function<void(VirtualModule&)>& f) {
    std::lock_guard lock(mutex_);
    VirtualModule* m = FindLocked(address);
    if (m == nullptr) return false;
    f(*m);
    return true;
}
