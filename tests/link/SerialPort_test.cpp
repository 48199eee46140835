#include "link/SerialPort.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/ForkedChild.h"
#include "support/Pty.h"
#include "support/PtyTrickle.h"

namespace {

using Frame = std::vector<std::uint8_t>;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// Bytes written to the master reach the slave's queue a moment later: polls with a bound.
// Reports the Read that first found bytes waiting: what it got and how long that one call took.
struct TimedRead {
    int got = 0;
    SteadyClock::duration took{};
};
TimedRead ReadTimedWhenArrived(CSerialPort& port, std::span<std::uint8_t> buf) {
    const auto until = SteadyClock::now() + std::chrono::seconds(2);
    TimedRead r;
    while (r.got == 0 && SteadyClock::now() < until) {
        const auto t0 = SteadyClock::now();
        r.got = port.Read(buf);
        r.took = SteadyClock::now() - t0;
        if (r.got == 0) std::this_thread::yield();
    }
    return r;
}

int ReadWhenArrived(CSerialPort& port, std::span<std::uint8_t> buf) { return ReadTimedWhenArrived(port, buf).got; }

// The rate only sets the time-outs on a pseudo-terminal; 300 baud makes every wait long
// (c = 34 ms, gap 102 ms, 6.8 s for 200 bytes), so "at once" cannot be mistaken for either.
TEST(SerialPort, ReadWithNothingWaitingReturnsAtOnceWithTheBufferZeroed) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 300, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 34);
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_LT(SteadyClock::now() - t0, Ms(50));
    for (auto b : buf) ASSERT_EQ(b, 0);
}

Frame Counting(std::uint8_t from, std::size_t count) {
    Frame f(count);
    for (std::size_t i = 0; i < count; ++i) f[i] = static_cast<std::uint8_t>(from + i);
    return f;
}

// At 1200 baud c = 9 ms and the gap that ends a reply is 27 ms.
TEST(SerialPort, AReplyInPiecesWithPausesBelowTheGapIsOneReply) {
    struct Case {
        std::size_t size;
        int everyMs;
        std::size_t pieces;
    };
    for (const Case c : {Case{1, 1, 50}, Case{10, 5, 6}}) {
        SCOPED_TRACE(testing::Message() << c.pieces << " pieces of " << c.size << " every " << c.everyMs << " ms");
        Pty pty;
        CSerialPort port;
        ASSERT_TRUE(port.Open(pty.path(), 1200, 8, 0, 0));
        PtyTrickle peer(pty, c.size, c.everyMs, c.pieces);
        std::array<std::uint8_t, 200> buf;
        const TimedRead r = ReadTimedWhenArrived(port, buf);
        const std::size_t whole = c.size * c.pieces;
        ASSERT_EQ(r.got, static_cast<int>(whole));
        EXPECT_EQ(Frame(buf.begin(), buf.begin() + r.got), Counting(0, whole));
        // Fewer bytes than asked: the Read ends only after one gap of silence.
        EXPECT_GE(r.took, Ms(27));
    }
}

TEST(SerialPort, APauseAboveTheGapEndsTheReplyAndTheRestWaitsForTheNextRead) {
    Pty pty;
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 1200, 8, 0, 0));
    PtyTrickle peer(pty, 10, 150, 2);
    std::array<std::uint8_t, 200> buf;
    const TimedRead first = ReadTimedWhenArrived(port, buf);
    ASSERT_EQ(first.got, 10);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 10), Counting(0, 10));
    EXPECT_LT(first.took, Ms(120));  // the gap ended it, not the 1.8 s bound for 200 bytes
    const TimedRead second = ReadTimedWhenArrived(port, buf);
    ASSERT_EQ(second.got, 10);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 10), Counting(10, 10));
}

// 300 baud: c = 34 ms, gap 102 ms. A byte every 40 ms never leaves a gap and never fills
// 30 bytes within the 30 x 34 = 1020 ms bound, so only that bound can end the Read.
TEST(SerialPort, APeerThatNeverStopsIsCutAtTheTotalBound) {
    Pty pty;
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 300, 8, 0, 0));
    PtyTrickle peer(pty, 1, 40);
    std::array<std::uint8_t, 30> buf;
    const TimedRead r = ReadTimedWhenArrived(port, buf);
    EXPECT_GE(r.took, Ms(1020));
    EXPECT_LT(r.took, Ms(1020 + 300));
    EXPECT_GT(r.got, 10);
    EXPECT_LT(r.got, 30);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + r.got), Counting(0, static_cast<std::size_t>(r.got)));
}

TEST(SerialPort, ShortReplyReadWithLengthTwoHundredLeavesTheRestZero) {
    Pty pty;
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    const Frame reply{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00, 0x8C, 0x3A};
    pty.Send(reply);
    std::array<std::uint8_t, 200> buf;
    buf.fill(0xAA);
    ASSERT_EQ(ReadWhenArrived(port, buf), 8);
    EXPECT_EQ(Frame(buf.begin(), buf.begin() + 8), reply);
    for (std::size_t i = 8; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0) << i;
}

TEST(SerialPort, WritePurgesAnUnreadReplyAndSendsEveryByte) {
    Pty pty;
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 19200, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 1);
    pty.Send({1, 2, 3});
    {
        // Let the stale bytes arrive, then put them back unread by sending them again.
        std::array<std::uint8_t, 3> seen{};
        ASSERT_GT(ReadWhenArrived(port, seen), 0);
        pty.Send({1, 2, 3});
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
    }
    Frame request(300);
    for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(port.Write(request), 300);
    EXPECT_EQ(pty.Receive(300), request);
    std::array<std::uint8_t, 16> buf{};
    EXPECT_EQ(port.Read(buf), 0);  // the stale bytes are gone
}

TEST(SerialPort, SameNameReconfiguresAndOtherNameSwitchesOnlyWhenItOpens) {
    Pty a;
    Pty b;
    CSerialPort port;
    ASSERT_TRUE(port.Open(a.path(), 9600, 8, 0, 0));
    EXPECT_EQ(port.CharTimeMs(), 2);
    ASSERT_TRUE(port.Open(a.path(), 4800, 8, 0, 0));  // same name: kept, new settings
    EXPECT_EQ(port.CharTimeMs(), 3);
    EXPECT_EQ(port.Name(), a.path());

    EXPECT_FALSE(port.Open("/dev/no-such-serial-port", 9600, 8, 0, 0));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Name(), a.path());
    const Frame ping{0x42};
    EXPECT_EQ(port.Write(ping), 1);
    EXPECT_EQ(a.Receive(1), ping);

    ASSERT_TRUE(port.Open(b.path(), 9600, 8, 2, 2));
    EXPECT_EQ(port.Name(), b.path());
    EXPECT_EQ(port.Write(ping), 1);
    EXPECT_EQ(b.Receive(1), ping);
}

TEST(SerialPort, ClosedPortDoesNothingAndReopensByItsFormerName) {
    Pty pty;
    CSerialPort port;
    std::array<std::uint8_t, 10> buf;
    buf.fill(7);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Write(std::span<const std::uint8_t>(buf)), 0);
    EXPECT_EQ(port.Read(buf), 0);
    EXPECT_EQ(buf[0], 0);  // zero-filled even while closed
    ASSERT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Name(), "");
    EXPECT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    EXPECT_TRUE(port.IsOpen());
}

// The other end vanishes while the port is idle, while it writes, or in the middle of a
// reply: each time the port lets go of the device at once and says why, and a later Open
// works as before.
TEST(SerialPort, AVanishedDeviceLosesThePortWithTheSystemsReason) {
    for (const char* when : {"idle", "write", "mid-reply"}) {
        SCOPED_TRACE(when);
        Pty pty;
        CSerialPort port;
        ASSERT_TRUE(port.Open(pty.path(), 300, 8, 0, 0));
        std::array<std::uint8_t, 200> buf{};
        const std::string w = when;
        if (w == "mid-reply") {
            // Three bytes, then silence well inside the 102 ms gap, then the peer is gone.
            pty.Send({1, 2, 3});
            std::thread peer([&pty] {
                std::this_thread::sleep_for(Ms(30));
                pty.Close();
            });
            const auto t0 = SteadyClock::now();
            int got = 0;
            while (port.IsOpen() && got == 0 && SteadyClock::now() - t0 < std::chrono::seconds(2)) got = port.Read(buf);
            peer.join();
            EXPECT_EQ(got, 0);  // a reply cut short by the loss is no reply
            EXPECT_EQ(buf[0], 0);
        } else {
            pty.Close();
            const Frame frame{1, 3, 0, 0, 0, 1, 0x84, 0x0A};
            EXPECT_EQ(w == "idle" ? port.Read(buf) : port.Write(frame), 0);
        }
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.LostReason(), "Input/output error");
        EXPECT_EQ(port.Name(), "");
        EXPECT_EQ(port.Read(buf), 0);

        Pty next;
        ASSERT_TRUE(port.Open(next.path(), 9600, 8, 0, 0));
        EXPECT_EQ(port.LostReason(), "");
    }
}

// A terminal opened by mistake (--port /dev/tty) is given back as it was found.
TEST(SerialPort, CloseRestoresTheSettingsTheDeviceHadBefore) {
    Pty pty;
    const int tty = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(tty, 0);
    termios cooked{};
    ASSERT_EQ(tcgetattr(tty, &cooked), 0);
    cooked.c_lflag |= static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    cooked.c_oflag |= static_cast<tcflag_t>(OPOST);
    cfsetspeed(&cooked, B38400);
    ASSERT_EQ(tcsetattr(tty, TCSANOW, &cooked), 0);

    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    termios now{};
    ASSERT_EQ(tcgetattr(tty, &now), 0);
    EXPECT_EQ(now.c_lflag & ICANON, 0u);  // raw while ours
    port.Close();
    ASSERT_EQ(tcgetattr(tty, &now), 0);
    EXPECT_EQ(now.c_lflag, cooked.c_lflag);
    EXPECT_EQ(now.c_oflag, cooked.c_oflag);
    EXPECT_EQ(now.c_iflag, cooked.c_iflag);
    EXPECT_EQ(cfgetospeed(&now), B38400);
    ::close(tty);
}

TEST(SerialPort, ASecondOpenOfAPortInUseIsRefused) {
    Pty pty;
    CSerialPort first;
    CSerialPort second;
    ASSERT_TRUE(first.Open(pty.path(), 9600, 8, 0, 0));
    EXPECT_FALSE(second.Open(pty.path(), 9600, 8, 0, 0));
    EXPECT_EQ(second.LastOpenError(), CSerialPort::OpenError::InUse);
    EXPECT_EQ(second.OpenFailureText(), "in use by another program");
    first.Close();
    EXPECT_TRUE(second.Open(pty.path(), 9600, 8, 0, 0));
    EXPECT_EQ(second.LastOpenError(), CSerialPort::OpenError::None);  // cleared by success
    EXPECT_EQ(second.OpenFailureText(), "");
}

// A client killed while it holds a pty must not leave it locked. The pty server keeps a
// descriptor of the slave open, so the tty is never last-closed and nothing would clear an
// exclusive flag; the lock alone goes away with the process.
TEST(SerialPort, APtyHeldByAClientThatWasKilledOpensAgain) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    struct Fd {
        int fd;
        ~Fd() {
            if (fd >= 0) ::close(fd);
        }
    } server{::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
    ASSERT_GE(server.fd, 0);
    {
        ForkedChild client([&](ForkedChild::Side& side) {
            CSerialPort port;
            side.ReportAndHold(port.Open(pty.path(), 9600, 8, 0, 0) ? 1 : 0);
        });
        ASSERT_TRUE(client.ok());
        ASSERT_EQ(client.Report(), 1);
        CSerialPort second;
        EXPECT_FALSE(second.Open(pty.path(), 9600, 8, 0, 0));  // the client's lock holds while it lives
        EXPECT_EQ(second.LastOpenError(), CSerialPort::OpenError::InUse);
        ASSERT_TRUE(client.Kill());
    }
    int exclusive = -1;
    ASSERT_EQ(ioctl(server.fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    CSerialPort port;
    EXPECT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
}

// Each reason the command-line tool can print; the old port stays open through them all.
TEST(SerialPort, EachFailedOpenSaysWhy) {
    using E = CSerialPort::OpenError;
    char file[] = "/tmp/kvt40-not-a-port-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    Pty pty;
    Pty other;
    CSerialPort holder;
    ASSERT_TRUE(holder.Open(other.path(), 9600, 8, 0, 0));

    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), 9600, 8, 0, 0));
    const struct {
        std::string name;
        int baud;
        E error;
        const char* text;
    } cases[] = {
        {"/dev/no-such-serial-port", 9600, E::NoSuchFile, "no such file"},
        {"", 9600, E::NoSuchFile, "no such file"},
        {"/dev/null", 9600, E::NotSerial, "not a serial device"},
        {file, 9600, E::NotSerial, "not a serial device"},
        {"/tmp", 9600, E::NotSerial, "not a serial device"},
        {other.path(), 9600, E::InUse, "in use by another program"},
        {pty.path(), 0, E::Other, nullptr},  // the character time divides by the rate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(port.Open(c.name, c.baud, 8, 0, 0));
        EXPECT_EQ(port.LastOpenError(), c.error);
        if (c.text != nullptr) {
            EXPECT_EQ(port.OpenFailureText(), c.text);
        }
        EXPECT_EQ(port.Name(), pty.path());
    }
    EXPECT_FALSE(port.OpenFailureText().empty());  // Other: the system's words
    ::unlink(file);
}

// The device nodes of a machine belong to root and a group (dialout); a user outside it is
// told how to get in. Needs root to play that user from a child.
TEST(SerialPort, AUserWithoutAccessIsToldHowToGetIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to open the pty as another user";
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(::chmod(pty.path().c_str(), 0600), 0);
    ForkedChild user([&](ForkedChild::Side& side) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) side.ReportAndHold(255);
        CSerialPort port;
        const bool opened = port.Open(pty.path(), 9600, 8, 0, 0);
        const bool toldHow =
            port.OpenFailureText() == "permission denied: run 'sudo usermod -aG dialout $USER' and log in again";
        side.ReportAndHold(!opened && port.LastOpenError() == CSerialPort::OpenError::PermissionDenied && toldHow);
    });
    ASSERT_TRUE(user.ok());
    EXPECT_EQ(user.Report(), 1);
}

}  // namespace
