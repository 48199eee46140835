#pragma once
// The cases every serial back end must pass, written once against a SerialPeer: the POSIX
// port against pseudo-terminals (tests/link/SerialPort_test.cpp), the Windows port under Wine
// against COM ports mapped to serial_peer (tests/windows/SerialPortWin32_test.cpp). Each of
// those files defines MakeSerialPeer() and its system's own cases.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/SerialPort.h"

namespace serial_cases {

using Frame = std::vector<std::uint8_t>;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// The far end of two ports, A and B, driven by the test.
class SerialPeer {
public:
    virtual ~SerialPeer() = default;
    virtual std::string PortA() const = 0;
    virtual std::string PortB() const = 0;

    // Towards a port open on A: `pieces` pieces (0: until Quiet) of `size` bytes, `everyMs`
    // apart; the bytes count up from 0 (mod 256), so the reader can tell which ones it got.
    virtual void Stream(CSerialPort& port, std::uint8_t size, std::uint8_t everyMs, std::uint8_t pieces) = 0;
    // Ends any stream; afterwards nothing more arrives on A.
    virtual bool Quiet(CSerialPort& port) = 0;
    // Writes `payload` through a port open on A; the far end takes every byte and answers
    // their count and their sum, two bytes each, high first. Returns the payload bytes written.
    virtual int WriteCounted(CSerialPort& port, const Frame& payload) = 0;
    // A byte written through `port` (open on `name`) reaches that port's far end.
    virtual bool Reaches(CSerialPort& port, const std::string& name) = 0;

    // A name no port of this system has.
    virtual std::string MissingName() const = 0;
    struct FailedOpen {
        std::string name;
        int baud;
        CSerialPort::OpenError error;
        const char* text;  // nullptr: the system's own words
    };
    // Every way an Open fails on this system, while a port is open on A.
    virtual std::vector<FailedOpen> FailedOpens() = 0;
    // How much earlier than asked a wait may end here (Wine's, on a busy machine).
    virtual Ms EarlyBy() const { return Ms(0); }
};

// Defined by each system's test file; nullptr with `whyNot` set skips the cases.
std::unique_ptr<SerialPeer> MakeSerialPeer(std::string& whyNot);

inline Frame Counting(std::uint8_t from, std::size_t count) {
    Frame f(count);
    for (std::size_t i = 0; i < count; ++i) f[i] = static_cast<std::uint8_t>(from + i);
    return f;
}

// Bytes reach the port a moment after the peer sends them: polls with a bound and reports
// the Read that first found bytes waiting, what it got and how long that one call took.
struct TimedRead {
    int got = 0;
    SteadyClock::duration took{};
};
inline TimedRead ReadTimedWhenArrived(CSerialPort& port, std::span<std::uint8_t> buf, Ms bound = Ms(3000)) {
    const auto until = SteadyClock::now() + bound;
    TimedRead r;
    while (r.got == 0 && SteadyClock::now() < until) {
        const auto t0 = SteadyClock::now();
        r.got = port.Read(buf);
        r.took = SteadyClock::now() - t0;
        if (r.got == 0) std::this_thread::yield();
    }
    return r;
}

inline int ReadWhenArrived(CSerialPort& port, std::span<std::uint8_t> buf) {
    return ReadTimedWhenArrived(port, buf).got;
}

inline long long AsMs(SteadyClock::duration d) {
    return std::chrono::duration_cast<Ms>(d).count();
}

}  // namespace serial_cases
