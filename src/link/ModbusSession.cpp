#include "link/ModbusSession.h"

#include <algorithm>
#include <array>

#include "link/LinkMonitor.h"

namespace {

constexpr int kReadRegisters = 0x03;
constexpr int kReadCoils = 0x01;
constexpr int kReadInputs = 0x02;
constexpr int kMaxRegisters = 125;
constexpr int kMaxBits = 2000;

// The data bytes a reply of `count` values of `function` carries (its byte count).
int DataBytes(int function, int count) {
    return function == kReadRegisters ? 2 * count : (count + 7) / 8;
}

bool CrcAt(std::span<const std::uint8_t> rx, std::size_t covered) {
    if (covered + 2 > rx.size()) return false;
    const std::uint16_t crc = Crc16Modbus(rx.first(covered));
    return rx[covered] == (crc & 0xFF) && rx[covered + 1] == (crc >> 8);
}

}  // namespace

bool ModbusSession::Connected() const {
    return link_.protocol != nullptr && link_.port != nullptr && link_.port->IsOpen();
}

void ModbusSession::Begin() {
    last_ = ExchangeRecord{};
    last_.address = link_.deviceAddress;
}

// A request that went out proves nothing; only a reply that passed clears the link's record,
// so a cycle that sends its next request after a failed collect still shows that failure.
void ModbusSession::Answered() {
    if (link_.lastExchange != nullptr) *link_.lastExchange = ExchangeRecord{};
}

bool ModbusSession::Fail(ExchangeFailure f, int exceptionCode) {
    last_.failure = f;
    last_.address = link_.deviceAddress;
    last_.exceptionCode = exceptionCode;
    last_.lostReason =
        f == ExchangeFailure::PortLost && link_.port != nullptr ? link_.port->LostReason() : std::string();
    if (link_.lastExchange != nullptr) *link_.lastExchange = last_;
    return false;
}

bool ModbusSession::FailTransfer(bool reading, bool raw) {
    if (link_.port != nullptr && !link_.port->LostReason().empty()) {
        if (link_.monitor != nullptr)
            link_.monitor->PortLost(link_.deviceAddress, clock_.now(), link_.port->LostReason());
        return Fail(ExchangeFailure::PortLost);
    }
    if (link_.port == nullptr || !link_.port->IsOpen()) return Fail(ExchangeFailure::NoLink);
    // A raw read that finds nothing is a poll for a first byte, not a request gone unanswered.
    if (reading && !raw && link_.monitor != nullptr)
        link_.monitor->NoReply(link_.deviceAddress, clock_.now());
    return Fail(reading ? ExchangeFailure::NoReply : ExchangeFailure::NoLink);
}

void ModbusSession::NoteSent(std::span<const std::uint8_t> bytes, bool raw) {
    if (link_.monitor != nullptr) link_.monitor->Sent(link_.deviceAddress, bytes, clock_.now(), raw);
}

void ModbusSession::NoteReceived(std::span<const std::uint8_t> bytes, bool raw) {
    if (link_.monitor != nullptr)
        link_.monitor->Received(link_.deviceAddress, bytes, clock_.now(), raw, last_.failure,
                                last_.exceptionCode);
}

ExchangeFailure ModbusSession::Diagnose(std::span<const std::uint8_t> rx, int function, bool echo) {
    // An exception frame is five bytes with a good CRC and the function's high bit set.
    if (rx.size() >= 5 && rx[1] == (function | 0x80) && CrcAt(rx, 3)) {
        last_.exceptionCode = rx[2];
        return ExchangeFailure::Exception;
    }
    const std::size_t covered = echo ? 6 : (rx.size() >= 3 ? 3u + rx[2] : 5);
    if (rx.size() < 5 || covered + 2 > rx.size()) return ExchangeFailure::WrongLength;
    if (!CrcAt(rx, covered)) return ExchangeFailure::BadCrc;
    if (rx[1] != function) return ExchangeFailure::WrongFunction;
    return ExchangeFailure::BadReply;
}

bool ModbusSession::SendRead(int function, int start, int count) {
    Begin();
    if (link_.protocol == nullptr || link_.port == nullptr) return Fail(ExchangeFailure::NoLink);
    std::array<std::uint8_t, 8> frame{};
    const CProtocol& p = *link_.protocol;
    const int addr = link_.deviceAddress;
    int len = 0;
    if (function == kReadRegisters)
        len = p.BuildReadRegisters(frame, addr, start, count);
    else if (function == kReadCoils)
        len = p.BuildReadCoils(frame, addr, start, count);
    else
        len = p.BuildReadInputs(frame, addr, start, count);
    if (len <= 0) return Fail(ExchangeFailure::NoLink);
    const std::span<const std::uint8_t> request(frame.data(), static_cast<std::size_t>(len));
    if (link_.port->Write(request) != len) return FailTransfer(false);
    NoteSent(request, false);
    inFlightSince_ = clock_.now();
    return true;
}

std::optional<RegisterValues> ModbusSession::Collect(int function, int count) {
    Begin();
    inFlightSince_.reset();
    if (link_.protocol == nullptr || link_.port == nullptr || count < 1) {
        Fail(ExchangeFailure::NoLink);
        return std::nullopt;
    }
    const int data = DataBytes(function, count);
    std::vector<std::uint8_t> rx(std::max<std::size_t>(kReplyBytes, static_cast<std::size_t>(5 + data)), 0);
    const int got = link_.port->Read(rx);
    if (got <= 0) {
        FailTransfer(true);
        return std::nullopt;
    }
    const Bytes reply(rx.data(), static_cast<std::size_t>(got));
    // Room for every value the frame's byte count can announce.
    RegisterValues values(function == kReadRegisters ? 128 : 8 * 256, 0);
    const CProtocol& p = *link_.protocol;
    bool ok = false;
    if (function == kReadRegisters)
        ok = p.CheckReadRegistersReply(reply, values);
    else if (function == kReadCoils)
        ok = p.CheckReadCoilsReply(reply, values);
    else
        ok = p.CheckReadInputsReply(reply, values);
    if (!ok) {
        const ExchangeFailure why = Diagnose(reply, function, false);
        Fail(why, why == ExchangeFailure::Exception ? last_.exceptionCode : 0);
        NoteReceived(reply, false);
        return std::nullopt;
    }
    // Fewer values would be decoded from bytes that never came; more belong to another request.
    if (rx[2] != data) {
        Fail(rx[2] < data ? ExchangeFailure::ShortReply : ExchangeFailure::WrongLength);
        NoteReceived(reply, false);
        return std::nullopt;
    }
    values.resize(static_cast<std::size_t>(count));
    Answered();
    NoteReceived(reply, false);
    return values;
}

bool ModbusSession::SendReadRegisters(int start, int count) {
    return count >= 1 && count <= kMaxRegisters ? SendRead(kReadRegisters, start, count)
                                                : Fail(ExchangeFailure::NoLink);
}

bool ModbusSession::SendReadInputs(int start, int count) {
    return count >= 1 && count <= kMaxBits ? SendRead(kReadInputs, start, count)
                                           : Fail(ExchangeFailure::NoLink);
}

std::optional<RegisterValues> ModbusSession::CollectRegisters(int count) {
    return Collect(kReadRegisters, count);
}
std::optional<RegisterValues> ModbusSession::CollectInputs(int count) {
    return Collect(kReadInputs, count);
}

void ModbusSession::DropInFlight(int boundMs) {
    if (!inFlightSince_) return;
    const Clock::Micros until = *inFlightSince_ + Clock::Micros(std::int64_t{boundMs} * 1000);
    inFlightSince_.reset();
    if (link_.port == nullptr) return;
    // The port never waits for a first byte: look again every few ms until it is there,
    // then its Read takes the rest of the reply.
    constexpr int kLookMs = 2;
    std::vector<std::uint8_t> rx(kReplyBytes, 0);
    int got = 0;
    while (link_.port->IsOpen() && (got = link_.port->Read(rx)) <= 0 && clock_.now() < until)
        clock_.sleep(kLookMs);
    if (link_.monitor == nullptr) return;
    // Dropped unread, but seen on the wire: noted with no verdict of its own.
    if (got > 0)
        link_.monitor->Received(link_.deviceAddress, std::span(rx.data(), static_cast<std::size_t>(got)),
                                clock_.now(), false, ExchangeFailure::None);
    else if (link_.port->IsOpen())
        link_.monitor->NoReply(link_.deviceAddress, clock_.now());
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
    const bool sent =
        count >= 1 && count <= kMaxBits ? SendRead(kReadCoils, start, count) : Fail(ExchangeFailure::NoLink);
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
    Begin();
    if (link_.protocol == nullptr || link_.port == nullptr || values.empty() || values.size() > 123) {
        clock_.sleep(waitMs);
        return Fail(ExchangeFailure::NoLink);
    }
    std::vector<std::uint8_t> frame(9 + 2 * values.size());
    const int len = link_.protocol->BuildWriteRegisters(frame, link_.deviceAddress, start,
                                                        static_cast<int>(values.size()), values);
    const std::span<const std::uint8_t> request(frame.data(), static_cast<std::size_t>(std::max(len, 0)));
    const bool sent = len > 0 && link_.port->Write(request) == len;
    if (sent) NoteSent(request, false);
    clock_.sleep(waitMs);
    return sent ? true : FailTransfer(false);
}

bool ModbusSession::WriteRegistersConfirmed(int start, std::span<const std::int32_t> values, int waitMs) {
    if (!WriteRegisters(start, values, waitMs)) return false;
    std::array<std::uint8_t, kReplyBytes> rx{};
    const int got = link_.port->Read(rx);
    if (got <= 0) return FailTransfer(true);
    const Bytes echo(rx.data(), static_cast<std::size_t>(got));
    if (!link_.protocol->CheckWriteRegistersReply(echo)) {
        const ExchangeFailure why = Diagnose(echo, 0x10, true);
        Fail(why, why == ExchangeFailure::Exception ? last_.exceptionCode : 0);
        NoteReceived(echo, false);
        return false;
    }
    Answered();
    NoteReceived(echo, false);
    return true;
}

bool ModbusSession::WriteCoil(int coil, bool on, int waitMs) {
    Begin();
    if (link_.protocol == nullptr || link_.port == nullptr) {
        clock_.sleep(waitMs);
        return Fail(ExchangeFailure::NoLink);
    }
    std::array<std::uint8_t, 8> frame{};
    const int len = link_.protocol->BuildWriteCoil(frame, link_.deviceAddress, coil, on ? 1 : 0);
    const std::span<const std::uint8_t> request(frame.data(), static_cast<std::size_t>(std::max(len, 0)));
    const bool sent = len > 0 && link_.port->Write(request) == len;
    if (sent) NoteSent(request, false);
    clock_.sleep(waitMs);
    return sent ? true : FailTransfer(false);
}

int ModbusSession::Send(std::span<const std::uint8_t> bytes) {
    Begin();
    if (link_.port == nullptr) {
        Fail(ExchangeFailure::NoLink);
        return 0;
    }
    const int sent = link_.port->Write(bytes);
    if (sent <= 0 && !bytes.empty())
        FailTransfer(false);
    else if (sent > 0)
        NoteSent(bytes.first(static_cast<std::size_t>(sent)), true);
    return sent;
}

std::vector<std::uint8_t> ModbusSession::ReadAvailable(std::size_t max) {
    Begin();
    if (link_.port == nullptr || max == 0) {
        Fail(ExchangeFailure::NoLink);
        return {};
    }
    std::vector<std::uint8_t> rx(max, 0);
    const int got = link_.port->Read(rx);
    rx.resize(static_cast<std::size_t>(std::max(got, 0)));
    if (rx.empty()) {
        FailTransfer(true, true);
    } else {
        Answered();
        NoteReceived(rx, true);
    }
    return rx;
}

std::string FailureText(ExchangeFailure failure, int address, int exceptionCode) {
    const std::string module = "module " + std::to_string(address);
    switch (failure) {
        case ExchangeFailure::None:
            return {};
        case ExchangeFailure::NoLink:
            return "Not connected";
        case ExchangeFailure::NoReply:
            return "No reply from " + module;
        case ExchangeFailure::BadReply:
            return "Bad reply from " + module;
        case ExchangeFailure::ShortReply:
            return "Short reply from " + module;
        case ExchangeFailure::Exception:
            return "Exception " + std::to_string(exceptionCode) + " from " + module;
        case ExchangeFailure::PortLost:
            return "Port lost";
        case ExchangeFailure::BadCrc:
            return "Bad CRC in the reply of " + module;
        case ExchangeFailure::WrongLength:
            return "Reply of the wrong length from " + module;
        case ExchangeFailure::WrongFunction:
            return "Reply of another function from " + module;
    }
    return {};
}

std::string FailureText(const ExchangeRecord& r) {
    if (r.failure == ExchangeFailure::PortLost && !r.lostReason.empty()) return "Port lost: " + r.lostReason;
    std::string text = FailureText(r.failure, r.address, r.exceptionCode);
    if (r.failure == ExchangeFailure::Exception) text += ": " + ExceptionMeaning(r.exceptionCode);
    return text;
}

std::string ExceptionMeaning(int code) {
    switch (code) {
        case 1:
            return "illegal function";
        case 2:
            return "illegal data address";
        case 3:
            return "illegal data value";
        case 4:
            return "server device failure";
        case 5:
            return "acknowledge";
        case 6:
            return "server device busy";
        case 8:
            return "memory parity error";
        case 10:
            return "gateway path unavailable";
        case 11:
            return "gateway target device failed to respond";
        default:
            return "unknown exception";
    }
}
