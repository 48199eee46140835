// The Windows serial port against real COM ports: the shared cases (SerialPortCases.cpp),
// then what only Windows shows. Under Wine, tests/windows/wine_test.sh maps two COM ports to
// the pseudo-terminals of serial_peer and names them in KVT40_TEST_PORTS ("COM5,COM6"); the
// peer obeys the commands below. Without that variable the tests skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/PortList.h"
#include "link/SerialPort.h"
#include "link/SerialPortCases.h"

namespace serial_cases {
namespace {

std::vector<std::string> TestPorts() {
    std::vector<std::string> ports;
    const char* env = std::getenv("KVT40_TEST_PORTS");
    std::string s = env != nullptr ? env : "";
    for (std::size_t at = 0; at < s.size();) {
        const std::size_t comma = std::min(s.find(',', at), s.size());
        if (comma > at) ports.push_back(s.substr(at, comma - at));
        at = comma + 1;
    }
    return ports;
}

#define NEED_PORTS()                                                                  \
    const std::vector<std::string> ports = TestPorts();                               \
    if (ports.size() < 2) GTEST_SKIP() << "KVT40_TEST_PORTS names no two peer ports"; \
    const std::string& portA = ports[0];                                              \
    const std::string& portB = ports[1];                                              \
    (void)portB

// Peer commands: a stream of `pieces` pieces (0: endless) of `size` bytes, `everyMs` apart;
// a count-and-sum echo of a payload; a stop with a marker after which the line is quiet.
Frame StreamCommand(std::uint8_t size, std::uint8_t everyMs, std::uint8_t pieces) {
    return {0xA5, 'T', size, everyMs, pieces};
}
Frame Counted(const Frame& payload) {
    Frame f(5 + payload.size());
    f[0] = 0xA5;
    f[1] = 'E';
    f[2] = static_cast<std::uint8_t>(payload.size() >> 8);
    f[3] = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), f.begin() + 5);
    return f;
}
const Frame kQuiet{0xA5, 'Y', 0, 0, 0};
const Frame kQuietMarker{0x5A, 0xA5, 0x5A, 0xA5};

Frame Exchange(CSerialPort& port, const Frame& request) {
    if (port.Write(request) != static_cast<int>(request.size())) return {};
    std::array<std::uint8_t, 200> buf{};
    const int got = ReadTimedWhenArrived(port, buf).got;
    return Frame(buf.begin(), buf.begin() + got);
}

// Stops the peer and reads until its marker: nothing of this test reaches the next one.
bool MakeQuiet(CSerialPort& port) {
    if (port.Write(kQuiet) != 5) return false;
    Frame seen;
    const auto until = SteadyClock::now() + Ms(3000);
    while (SteadyClock::now() < until) {
        std::array<std::uint8_t, 256> buf{};
        const int got = port.Read(buf);
        seen.insert(seen.end(), buf.begin(), buf.begin() + got);
        if (seen.size() >= 4 && Frame(seen.end() - 4, seen.end()) == kQuietMarker) return true;
        if (got == 0) std::this_thread::yield();
    }
    return false;
}

// serial_peer behind the two COM ports, driven by the commands above.
class WinePeer final : public SerialPeer {
public:
    WinePeer(std::string a, std::string b) : a_(std::move(a)), b_(std::move(b)) {}
    std::string PortA() const override { return a_; }
    std::string PortB() const override { return b_; }

    void Stream(CSerialPort& port, std::uint8_t size, std::uint8_t everyMs, std::uint8_t pieces) override {
        EXPECT_EQ(port.Write(StreamCommand(size, everyMs, pieces)), 5);
    }
    bool Quiet(CSerialPort& port) override { return MakeQuiet(port); }
    int WriteCounted(CSerialPort& port, const Frame& payload) override {
        return port.Write(Counted(payload)) - 5;
    }
    bool Reaches(CSerialPort& port, const std::string&) override {
        return Exchange(port, Counted({0x42})) == Frame{0x00, 0x01, 0x00, 0x42};
    }

    std::string MissingName() const override { return "COM199"; }
    std::vector<FailedOpen> FailedOpens() override {
        using E = CSerialPort::OpenError;
        return {
            {"COM199", 9600, E::NoSuchFile, "no such file"},
            {"", 9600, E::NoSuchFile, "no such file"},
            {"NUL", 9600, E::NotSerial, "not a serial device"},
            {b_, 0, E::Other, nullptr},  // the character time divides by the rate
        };
    }
    // Wine's waits end up to a few tens of ms early on a busy machine; the cut is what counts.
    Ms EarlyBy() const override { return Ms(60); }

private:
    std::string a_;
    std::string b_;
};

}  // namespace

std::unique_ptr<SerialPeer> MakeSerialPeer(std::string& whyNot) {
    const std::vector<std::string> ports = TestPorts();
    if (ports.size() < 2) {
        whyNot = "KVT40_TEST_PORTS names no two peer ports";
        return nullptr;
    }
    return std::make_unique<WinePeer>(ports[0], ports[1]);
}

namespace {

// The pause closes the port from the user-interface thread while the update worker is inside
// a Read that waits for the rest of a reply: a byte every 5 ms, far below the 102 ms gap at
// 300 baud, and 1000 bytes asked, so the Read would go on for 34 s. Close must cut it short,
// and the worker must see 0 from then on.
TEST(SerialPortWin32Threads, CloseWhileAReadWaitsForTheRestOfAReply) {
    NEED_PORTS();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        CSerialPort port;
        ASSERT_TRUE(port.Open(portA, 300, 8, 0, 0));
        ASSERT_EQ(port.Write(StreamCommand(1, 5, 0)), 5);

        std::atomic<int> calls{0};
        std::atomic<long long> callStartedUs{0};
        std::atomic<int> got{-1};
        std::atomic<int> nonzeroAfter{-1};
        const auto epoch = SteadyClock::now();
        std::thread worker([&] {
            std::vector<std::uint8_t> buf(1000, 0xAA);
            int n = 0;
            // Empty Reads return at once; the first that finds bytes stays for the stream.
            const auto until = SteadyClock::now() + Ms(3000);
            do {
                callStartedUs =
                    std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - epoch).count();
                ++calls;
                n = port.Read(buf);
            } while (n == 0 && port.IsOpen() && SteadyClock::now() < until);
            int leftOver = 0;
            for (auto b : buf) leftOver += b != 0;
            got = leftOver == 0 ? n : -2;  // a Read cut short must leave the buffer zeroed
            const std::array<std::uint8_t, 8> req{1, 3, 0, 0, 0, 10, 0xC5, 0xCD};
            int nonzero = 0;
            for (int i = 0; i < 20; ++i) nonzero += (port.Write(req) != 0) + (port.Read(buf) != 0);
            nonzeroAfter = nonzero;
        });
        // Not ASSERT from here on: the worker must be closed out and joined either way.
        // Inside the long Read: one call has lasted 200 ms, where an empty one returns at once.
        const auto until = SteadyClock::now() + Ms(3000);
        while (SteadyClock::now() < until) {
            const auto now =
                std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - epoch).count();
            if (calls > 0 && now - callStartedUs > 200000) break;
            std::this_thread::yield();
        }
        const auto t0 = SteadyClock::now();
        port.Close();
        const auto closeTook = SteadyClock::now() - t0;
        worker.join();
        EXPECT_LT(closeTook, Ms(300)) << AsMs(closeTook);
        EXPECT_EQ(got.load(), 0);
        EXPECT_EQ(nonzeroAfter.load(), 0);
        EXPECT_FALSE(port.IsOpen());
        CSerialPort quiet;
        EXPECT_TRUE(quiet.Open(portA, 300, 8, 0, 0) && MakeQuiet(quiet));
    }
}

TEST(PortListWin32, TheMappedPortsAreListedInNaturalOrder) {
    NEED_PORTS();
    const std::vector<std::string> listed = ListSerialPorts();
    const auto a = std::find(listed.begin(), listed.end(), portA);
    const auto b = std::find(listed.begin(), listed.end(), portB);
    ASSERT_NE(a, listed.end());
    ASSERT_NE(b, listed.end());
    EXPECT_EQ(NaturalLess(portA, portB), a < b);
    EXPECT_EQ(listed, ComPortNames(listed));  // each once, upper case, in order
}

}  // namespace
}  // namespace serial_cases
