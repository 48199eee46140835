#include "settings/WriteCheck.h"

std::string ExchangeReason(const ModbusSession& session) {
    return FailureText(session.LastExchange());
}

std::string RefusedWriteText(int start, const ModbusSession& session) {
    return "the write to register " + std::to_string(start) + " failed: " + ExchangeReason(session);
}

std::optional<std::string> ReadBackDifference(int start, std::span<const std::int32_t> written, int readStart,
                                              std::span<const std::int32_t> readBack) {
    for (std::size_t k = 0; k < written.size(); ++k) {
        const long long at = start + static_cast<long long>(k) - readStart;
        if (at < 0 || at >= static_cast<long long>(readBack.size())) continue;
        // Registers are 16 bits: what was sent is the value's low word.
        const std::int32_t sent = written[k] & 0xFFFF;
        const std::int32_t kept = readBack[static_cast<std::size_t>(at)];
        if (sent != kept)
            return "register " + std::to_string(start + static_cast<int>(k)) + " reads " +
                   std::to_string(kept) + " after " + std::to_string(sent) + " was written";
    }
    return std::nullopt;
}
