// The POSIX serial port: the shared cases (SerialPortCases.cpp) against pseudo-terminals,
// then what only a POSIX device shows.
#include "link/SerialPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "link/SerialPortCases.h"
#include "support/ForkedChild.h"
#include "support/Pty.h"
#include "support/PtyTrickle.h"

namespace serial_cases {

// Two pseudo-terminals whose master ends the test holds.
class PtyPeer final : public SerialPeer {
public:
    bool ok() const { return a_.ok() && b_.ok(); }
    std::string PortA() const override { return a_.path(); }
    std::string PortB() const override { return b_.path(); }

    void Stream(CSerialPort&, std::uint8_t size, std::uint8_t everyMs, std::uint8_t pieces) override {
        trickle_.reset();
        trickle_ = std::make_unique<PtyTrickle>(a_, size, everyMs, pieces);
    }
    bool Quiet(CSerialPort&) override {
        trickle_.reset();
        return true;
    }
    int WriteCounted(CSerialPort& port, const Frame& payload) override {
        const int wrote = port.Write(payload);
        if (a_.Receive(payload.size()) != payload) return -1;
        unsigned sum = 0;
        for (auto b : payload) sum += b;
        a_.Send({static_cast<std::uint8_t>(payload.size() >> 8), static_cast<std::uint8_t>(payload.size()),
                 static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)});
        return wrote;
    }
    bool Reaches(CSerialPort& port, const std::string& name) override {
        const Pty& far = name == a_.path() ? a_ : b_;
        const Frame ping{0x42};
        return port.Write(ping) == 1 && far.Receive(1) == ping;
    }

    std::string MissingName() const override { return "/dev/no-such-serial-port"; }
    std::vector<FailedOpen> FailedOpens() override {
        using E = CSerialPort::OpenError;
        const int fd = ::mkstemp(file_);
        EXPECT_GE(fd, 0);
        if (fd >= 0) {
            ::close(fd);
            madeFile_ = true;
        }
        held_ = std::make_unique<Pty>();
        holder_ = std::make_unique<CSerialPort>();
        EXPECT_TRUE(holder_->Open(held_->path(), 9600, 8, 0, 0));
        return {
            {"/dev/no-such-serial-port", 9600, E::NoSuchFile, "no such file"},
            {"", 9600, E::NoSuchFile, "no such file"},
            {"/dev/null", 9600, E::NotSerial, "not a serial device"},
            {file_, 9600, E::NotSerial, "not a serial device"},
            {"/tmp", 9600, E::NotSerial, "not a serial device"},
            {held_->path(), 9600, E::InUse, "in use by another program"},
            {a_.path(), 0, E::Other, nullptr},  // the character time divides by the rate
        };
    }
    ~PtyPeer() override {
        trickle_.reset();
        if (madeFile_) ::unlink(file_);
    }

private:
    Pty a_;
    Pty b_;
    std::unique_ptr<PtyTrickle> trickle_;
    std::unique_ptr<Pty> held_;
    std::unique_ptr<CSerialPort> holder_;
    char file_[29] = "/tmp/kvt40-not-a-port-XXXXXX";
    bool madeFile_ = false;
};

std::unique_ptr<SerialPeer> MakeSerialPeer(std::string&) {
    auto peer = std::make_unique<PtyPeer>();
    if (!peer->ok()) ADD_FAILURE() << "no pseudo-terminal for the peer";
    return peer;
}

namespace {

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
            while (port.IsOpen() && got == 0 && SteadyClock::now() - t0 < std::chrono::seconds(2))
                got = port.Read(buf);
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
        const bool toldHow = port.OpenFailureText() ==
                             "permission denied: run 'sudo usermod -aG dialout $USER' and log in again";
        side.ReportAndHold(!opened && port.LastOpenError() == CSerialPort::OpenError::PermissionDenied &&
                           toldHow);
    });
    ASSERT_TRUE(user.ok());
    EXPECT_EQ(user.Report(), 1);
}

}  // namespace
}  // namespace serial_cases
