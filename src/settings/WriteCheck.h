#pragma once
// Whether a module kept what a settings write sent, for the commands that must not call a
// refused or dropped write done. The forms show the read-back and judge nothing.
//
//     if (!session.WriteRegistersConfirmed(504, values, 300) && session.LastFailure() ==
//     ExchangeFailure::Exception)
//         fault = RefusedWriteText(504, session);      // "the write to register 504 failed: Exception 4 ..."
//     else fault = ReadBackDifference(504, values, 504, readBack);  // "register 504 reads 26400 ..."

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/ModbusSession.h"

// The session's last failure with an exception's meaning: "Exception 4 from module 1: server
// device failure".
std::string ExchangeReason(const ModbusSession& session);
// "the write to register 504 failed: " and the session's last failure.
std::string RefusedWriteText(int start, const ModbusSession& session);

// The first register of a write from `start` whose read-back (registers from `readStart`)
// differs: "register 504 reads 26400 after 23000 was written". Registers outside the
// read-back are not judged; nothing when every value was kept.
std::optional<std::string> ReadBackDifference(int start, std::span<const std::int32_t> written, int readStart,
                                              std::span<const std::int32_t> readBack);
