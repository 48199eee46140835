// The Windows serial port against real COM ports. Under Wine, tests/windows/wine_test.sh maps
// two COM ports to the pseudo-terminals of serial_peer and names them in KVT40_TEST_PORTS
// ("COM5,COM6"); the peer obeys the commands below. Without that variable the tests skip.
#include "link/SerialPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/PortList.h"

namespace {

using Frame = std::vector<std::uint8_t>;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

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

#define NEED_PORTS()                                                                   \
    const std::vector<std::string> ports = TestPorts();                                \
    if (ports.size() < 2) GTEST_SKIP() << "KVT40_TEST_PORTS names no two peer ports"; \
    const std::string& portA = ports[0];                                               \
    const std::string& portB = ports[1];                                               \
    (void)portB

// Peer commands: a stream of `pieces` pieces (0: endless) of `size` bytes, `everyMs` apart;
// a count-and-sum echo of a payload; a stop with a marker after which the line is quiet.
Frame Stream(std::uint8_t size, std::uint8_t everyMs, std::uint8_t pieces) {
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

Frame Counting(std::uint8_t from, std::size_t count) {
    Frame f(count);
    for (std::size_t i = 0; i < count; ++i) f[i] = static_cast<std::uint8_t>(from + i);
    return f;
}

struct TimedRead {
    int got = 0;
    SteadyClock::duration took{};
};
// Polls until a Read finds bytes; reports that Read: what it got and how long it took.
TimedRead ReadTimedWhenArrived(CSerialPort& port, std::span<std::uint8_t> buf, Ms bound = Ms(3000)) {
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

Ms AsMs(SteadyClock::duration d) { return std::chrono::duration_cast<Ms>(d); }

// 300 baud: c = 34 ms, gap 102 ms, 6.8 s for 200 bytes, so "at once" is neither.
TEST(SerialPortWin32, ReadWithNothingWaitingReturnsAtOnceWithTheBufferZeroed) {
    NEED_PORTS();
    CSerialPort port;
    ASSERT_TRUE(port.Open(portA, 300, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 34);
    ASSERT_TRUE(MakeQuiet(port));
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_LT(SteadyClock::now() - t0, Ms(50));
    for (auto b : buf) ASSERT_EQ(b, 0);
}

TEST(SerialPortWin32, WriteSendsEveryByteAndAShortReplyLeavesTheRestZero) {
    NEED_PORTS();
    CSerialPort port;
    ASSERT_TRUE(port.Open(portA, 19200, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 1);
    Frame payload(300);
    unsigned sum = 0;
    for (std::size_t i = 0; i < payload.size(); ++i) sum += payload[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(port.Write(Counted(payload)), 305);
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    ASSERT_EQ(ReadTimedWhenArrived(port, buf).got, 4);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 4),
              (Frame{0x01, 0x2C, static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)}));
    for (std::size_t i = 4; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0) << i;
}

// At 1200 baud c = 9 ms and the gap that ends a reply is 27 ms.
TEST(SerialPortWin32, AReplyInPiecesWithPausesBelowTheGapIsOneReply) {
    NEED_PORTS();
    struct Case {
        std::uint8_t size;
        std::uint8_t everyMs;
        std::uint8_t pieces;
    };
    CSerialPort port;
    ASSERT_TRUE(port.Open(portA, 1200, 8, 0, 0));
    for (const Case c : {Case{1, 1, 50}, Case{10, 5, 6}}) {
        SCOPED_TRACE(testing::Message() << int{c.pieces} << " pieces of " << int{c.size} << " every "
                                        << int{c.everyMs} << " ms");
        ASSERT_EQ(port.Write(Stream(c.size, c.everyMs, c.pieces)), 5);
        std::array<std::uint8_t, 200> buf;
        const TimedRead r = ReadTimedWhenArrived(port, buf);
        const std::size_t whole = std::size_t{c.size} * c.pieces;
        ASSERT_EQ(r.got, static_cast<int>(whole));
        EXPECT_EQ(Frame(buf.begin(), buf.begin() + r.got), Counting(0, whole));
        EXPECT_GE(r.took, Ms(27));  // fewer bytes than asked: it ends only after a gap of silence
    }
}

TEST(SerialPortWin32, APauseAboveTheGapEndsTheReplyAndTheRestWaitsForTheNextRead) {
    NEED_PORTS();
    CSerialPort port;
    ASSERT_TRUE(port.Open(portA, 1200, 8, 0, 0));
    ASSERT_EQ(port.Write(Stream(10, 150, 2)), 5);
    std::array<std::uint8_t, 200> buf;
    const TimedRead first = ReadTimedWhenArrived(port, buf);
    ASSERT_EQ(first.got, 10);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 10), Counting(0, 10));
    EXPECT_LT(first.took, Ms(120)) << AsMs(first.took).count();  // the gap ended it, not the 1.8 s bound
    const TimedRead second = ReadTimedWhenArrived(port, buf);
    ASSERT_EQ(second.got, 10);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 10), Counting(10, 10));
}

// 300 baud: c = 34 ms, gap 102 ms. A byte every 40 ms never leaves a gap and never fills 30
// bytes within the 30 x 34 = 1020 ms bound, so only that bound can end the Read.
TEST(SerialPortWin32, APeerThatNeverStopsIsCutAtTheTotalBound) {
    NEED_PORTS();
    CSerialPort port;
    ASSERT_TRUE(port.Open(portA, 300, 8, 0, 0));
    ASSERT_EQ(port.Write(Stream(1, 40, 0)), 5);
    std::array<std::uint8_t, 30> buf;
    const TimedRead r = ReadTimedWhenArrived(port, buf);
    // Wine's waits end up to a few tens of ms early on a busy machine; the cut is what counts.
    EXPECT_GE(r.took, Ms(1020 - 60)) << AsMs(r.took).count();
    EXPECT_LT(r.took, Ms(1020 + 300)) << AsMs(r.took).count();
    EXPECT_GT(r.got, 10);
    EXPECT_LT(r.got, 30);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + r.got), Counting(0, static_cast<std::size_t>(r.got)));
    EXPECT_TRUE(MakeQuiet(port));
}

TEST(SerialPortWin32, SameNameReconfiguresAndOtherNameSwitchesOnlyWhenItOpens) {
    NEED_PORTS();
    const Frame ping{0x42};
    const Frame pong{0x00, 0x01, 0x00, 0x42};
    CSerialPort port;
    ASSERT_TRUE(port.Open(portA, 9600, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 2);
    ASSERT_TRUE(port.Open(portA, 4800, 8, 0, 0));  // same name: kept, new settings
    EXPECT_EQ(port.CharTimeMs(), 3);
    EXPECT_EQ(port.Name(), portA);
    EXPECT_EQ(Exchange(port, Counted(ping)), pong);

    EXPECT_FALSE(port.Open("COM199", 9600, 8, 0, 0));
    EXPECT_EQ(port.LastOpenError(), CSerialPort::OpenError::NoSuchFile);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Name(), portA);
    EXPECT_EQ(port.CharTimeMs(), 3);
    EXPECT_EQ(Exchange(port, Counted(ping)), pong);

    ASSERT_TRUE(port.Open(portB, 9600, 8, 2, 2));
    EXPECT_EQ(port.Name(), portB);
    EXPECT_EQ(port.LastOpenError(), CSerialPort::OpenError::None);
    EXPECT_EQ(Exchange(port, Counted(ping)), pong);
}

TEST(SerialPortWin32, ClosedPortDoesNothingAndReopensByItsFormerName) {
    NEED_PORTS();
    CSerialPort port;
    std::array<std::uint8_t, 10> buf;
    buf.fill(7);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Write(std::span<const std::uint8_t>(buf)), 0);
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_EQ(buf[0], 0);  // zero-filled even while closed
    ASSERT_TRUE(port.Open(portA, 9600, 8, 0, 0));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Name(), "");
    EXPECT_EQ(port.Write(std::span<const std::uint8_t>(buf)), 0);
    EXPECT_TRUE(port.Open(portA, 9600, 8, 0, 0));
    EXPECT_TRUE(port.IsOpen());
}

TEST(SerialPortWin32, EachFailedOpenSaysWhy) {
    NEED_PORTS();
    using E = CSerialPort::OpenError;
    CSerialPort port;
    ASSERT_TRUE(port.Open(portA, 9600, 8, 0, 0));
    const struct {
        std::string name;
        int baud;
        E error;
        const char* text;
    } cases[] = {
        {"COM199", 9600, E::NoSuchFile, "no such file"},
        {"", 9600, E::NoSuchFile, "no such file"},
        {"NUL", 9600, E::NotSerial, "not a serial device"},
        {portB, 0, E::Other, nullptr},  // the character time divides by the rate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(port.Open(c.name, c.baud, 8, 0, 0));
        EXPECT_EQ(port.LastOpenError(), c.error);
        if (c.text != nullptr) {
            EXPECT_EQ(port.OpenFailureText(), c.text);
        }
        EXPECT_EQ(port.Name(), portA);
    }
    // Other: the system's words, on one line.
    const std::string why = port.OpenFailureText();
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(why.find_first_of("\r\n"), std::string::npos) << why;
}

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
        ASSERT_EQ(port.Write(Stream(1, 5, 0)), 5);

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
                callStartedUs = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - epoch).count();
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
            const auto now = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - epoch).count();
            if (calls > 0 && now - callStartedUs > 200000) break;
            std::this_thread::yield();
        }
        const auto t0 = SteadyClock::now();
        port.Close();
        const auto closeTook = SteadyClock::now() - t0;
        worker.join();
        EXPECT_LT(closeTook, Ms(300)) << AsMs(closeTook).count();
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
