#include "link/ModbusSession.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kReadRegisters = 0x03;
constexpr int kReadCoils = 0x01;
constexpr int kReadInputs = 0x02;
constexpr int kMaxRegisters = 125;
constexpr int kMaxBits = 2000;

// Bytes a reply of `count` values of `function` occupies: address, function, byte count,
// data, CRC.
std::size_t ReplyLength(int function, int count) {
    const int data = function == kReadRegisters ? 2 * count : (count + 7) / 8;
    return static_cast<std::size_t>(5 + data);
}

}  // namespace

bool ModbusSession::Connected() const {
    return link_.protocol != nullptr && link_.port != nullptr && link_.port->IsOpen();
}

bool ModbusSession::Fail(ExchangeFailure f) {
    failure_ = f;
    return false;
}

bool ModbusSession::FailOnReply(std::span<const std::uint8_t> rx, int got, int function) {
    // An exception frame is five bytes with a good CRC and the function's high bit set.
    const std::array<std::uint8_t, 3> head{rx[0], rx[1], rx[2]};
    const std::uint16_t crc = Crc16Modbus(head);
    if (got >= 5 && rx[1] == (function | 0x80) && rx[3] == (crc & 0xFF) && rx[4] == (crc >> 8)) {
        exceptionCode_ = rx[2];
        return Fail(ExchangeFailure::Exception);
    }
    return Fail(ExchangeFailure::BadReply);
}

bool ModbusSession::SendRead(int function, int start, int count) {
    failure_ = ExchangeFailure::None;
    if (link_.protocol == nullptr || link_.port == nullptr) return Fail(ExchangeFailure::NoLink);
    std::array<std::uint8_t, 8> frame{};
    const CProtocol& p = *link_.protocol;
    const int addr = link_.deviceAddress;
    int len = 0;
    if (function == kReadRegisters) len = p.BuildReadRegisters(frame, addr, start, count);
    else if (function == kReadCoils) len = p.BuildReadCoils(frame, addr, start, count);
    else len = p.BuildReadInputs(frame, addr, start, count);
    if (len <= 0) return Fail(ExchangeFailure::NoLink);
    if (link_.port->Write(std::span<const std::uint8_t>(frame.data(), static_cast<std::size_t>(len))) != len)
        return Fail(ExchangeFailure::NoLink);
    inFlightSince_ = clock_.now();
    return true;
}

std::optional<RegisterValues> ModbusSession::Collect(int function, int count) {
    failure_ = ExchangeFailure::None;
    exceptionCode_ = 0;
    inFlightSince_.reset();
    if (link_.protocol == nullptr || link_.port == nullptr || count < 1) {
        Fail(ExchangeFailure::NoLink);
        return std::nullopt;
    }
    const std::size_t want = ReplyLength(function, count);
    std::vector<std::uint8_t> rx(std::max<std::size_t>(kReplyBytes, want), 0);
    const int got = link_.port->Read(rx);
    if (got <= 0) {
        Fail(link_.port->IsOpen() ? ExchangeFailure::NoReply : ExchangeFailure::NoLink);
        return std::nullopt;
    }
    const Bytes reply(rx.data(), static_cast<std::size_t>(got));
    // Room for every value the frame's byte count can announce.
    RegisterValues values(function == kReadRegisters ? 128 : 8 * 256, 0);
    const CProtocol& p = *link_.protocol;
    bool ok = false;
    if (function == kReadRegisters) ok = p.CheckReadRegistersReply(reply, values);
    else if (function == kReadCoils) ok = p.CheckReadCoilsReply(reply, values);
    else ok = p.CheckReadInputsReply(reply, values);
    if (!ok) {
        FailOnReply(rx, got, function);
        return std::nullopt;
    }
    const int announced = rx[2];
    const int needed = static_cast<int>(want) - 5;
    if (announced < needed || static_cast<std::size_t>(got) < want) {
        Fail(ExchangeFailure::ShortReply);
        return std::nullopt;
    }
    values.resize(static_cast<std::size_t>(count));
    return values;
}

bool ModbusSession::SendReadRegisters(int start, int count) {
    return count >= 1 && count <= kMaxRegisters ? SendRead(kReadRegisters, start, count)
                                                : Fail(ExchangeFailure::NoLink);
}

bool ModbusSession::SendReadInputs(int start, int count) {
    return count >= 1 && count <= kMaxBits ? SendRead(kReadInputs, start, count) : Fail(ExchangeFailure::NoLink);
}

std::optional<RegisterValues> ModbusSession::CollectRegisters(int count) { return Collect(kReadRegisters, count); }
std::optional<RegisterValues> ModbusSession::CollectInputs(int count) { return Collect(kReadInputs, count); }

void ModbusSession::DropInFlight(int boundMs) {
    if (!inFlightSince_) return;
    const Clock::Micros until = *inFlightSince_ + Clock::Micros(std::int64_t{boundMs} * 1000);
    inFlightSince_.reset();
    if (link_.port == nullptr) return;
    // The port never waits for a first byte: look again every few ms until it is there,
    // then its Read takes the rest of the reply.
    constexpr int kLookMs = 2;
    std::vector<std::uint8_t> rx(kReplyBytes, 0);
    while (link_.port->IsOpen() && link_.port->Read(rx) <= 0 && clock_.now() < until) clock_.sleep(kLookMs);
}

// The wait is kept when nothing could be sent, so a handler's timing never depends on
// the link.
std::optional<RegisterValues> ModbusSession::ReadRegisters(int start, int count, int waitMs) {
    const bool sent = SendReadRegisters(start, count);
    clock_.sleep(waitMs);
    if (!sent) return std::nullopt;
    return Collect(kReadRegisters, count);
}

std::optional<RegisterValues> ModbusSession::ReadCoils(int start, int count, int waitMs) {
    const bool sent = count >= 1 && count <= kMaxBits ? SendRead(kReadCoils, start, count) : Fail(ExchangeFailure::NoLink);
    clock_.sleep(waitMs);
    if (!sent) return std::nullopt;
    return Collect(kReadCoils, count);
}

std::optional<RegisterValues> ModbusSession::ReadInputs(int start, int count, int waitMs) {
    const bool sent = SendReadInputs(start, count);
    clock_.sleep(waitMs);
    if (!sent) return std::nullopt;
    return Collect(kReadInputs, count);
}

bool ModbusSession::WriteRegisters(int start, std::span<const std::int32_t> values, int waitMs) {
    failure_ = ExchangeFailure::None;
    if (link_.protocol == nullptr || link_.port == nullptr || values.empty() || values.size() > 123) {
        clock_.sleep(waitMs);
        return Fail(ExchangeFailure::NoLink);
    }
    std::vector<std::uint8_t> frame(9 + 2 * values.size());
    const int len = link_.protocol->BuildWriteRegisters(frame, link_.deviceAddress, start,
                                                        static_cast<int>(values.size()), values);
    const bool sent = len > 0 && link_.port->Write(std::span<const std::uint8_t>(frame.data(),
                                                                                 static_cast<std::size_t>(len))) == len;
    clock_.sleep(waitMs);
    return sent ? true : Fail(ExchangeFailure::NoLink);
}

bool ModbusSession::WriteRegistersConfirmed(int start, std::span<const std::int32_t> values, int waitMs) {
    exceptionCode_ = 0;
    if (!WriteRegisters(start, values, waitMs)) return false;
    std::array<std::uint8_t, kReplyBytes> rx{};
    const int got = link_.port->Read(rx);
    if (got <= 0) return Fail(link_.port->IsOpen() ? ExchangeFailure::NoReply : ExchangeFailure::NoLink);
    if (!link_.protocol->CheckWriteRegistersReply(Bytes(rx.data(), static_cast<std::size_t>(got))))
        return FailOnReply(rx, got, 0x10);
    return true;
}

bool ModbusSession::WriteCoil(int coil, bool on, int waitMs) {
    failure_ = ExchangeFailure::None;
    if (link_.protocol == nullptr || link_.port == nullptr) {
        clock_.sleep(waitMs);
        return Fail(ExchangeFailure::NoLink);
    }
    std::array<std::uint8_t, 8> frame{};
    const int len = link_.protocol->BuildWriteCoil(frame, link_.deviceAddress, coil, on ? 1 : 0);
    const bool sent = len > 0 && link_.port->Write(std::span<const std::uint8_t>(frame.data(),
                                                                                 static_cast<std::size_t>(len))) == len;
    clock_.sleep(waitMs);
    return sent ? true : Fail(ExchangeFailure::NoLink);
}

int ModbusSession::Send(std::span<const std::uint8_t> bytes) {
    failure_ = ExchangeFailure::None;
    if (link_.port == nullptr) {
        Fail(ExchangeFailure::NoLink);
        return 0;
    }
    return link_.port->Write(bytes);
}

std::vector<std::uint8_t> ModbusSession::ReadAvailable(std::size_t max) {
    failure_ = ExchangeFailure::None;
    if (link_.port == nullptr || max == 0) {
        Fail(ExchangeFailure::NoLink);
        return {};
    }
    std::vector<std::uint8_t> rx(max, 0);
    const int got = link_.port->Read(rx);
    rx.resize(static_cast<std::size_t>(std::max(got, 0)));
    if (rx.empty()) Fail(link_.port->IsOpen() ? ExchangeFailure::NoReply : ExchangeFailure::NoLink);
    return rx;
}

std::string FailureText(ExchangeFailure failure, int address, int exceptionCode) {
    const std::string module = "module " + std::to_string(address);
    switch (failure) {
    case ExchangeFailure::None: return {};
    case ExchangeFailure::NoLink: return "Not connected";
    case ExchangeFailure::NoReply: return "No reply from " + module;
    case ExchangeFailure::BadReply: return "Bad reply from " + module;
    case ExchangeFailure::ShortReply: return "Short reply from " + module;
    case ExchangeFailure::Exception:
        return "Exception " + std::to_string(exceptionCode) + " from " + module;
    }
    return {};
}
