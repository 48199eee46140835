// The pty server: framing by length on the raw slave, raw units for a module's handler, and
// the real serial port and frame layer against it (and against the embedded module). Waits
// end when the server says it has served or held the bytes, never after a fixed silence.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "Deadline.h"
#include "MenuLoader.h"
#include "link/LinkState.h"
#include "link/SerialPort.h"
#include "sim/EmbeddedSim.h"
#include "sim/PtyBusServer.h"
#include "support/Frames.h"

namespace {

std::vector<std::uint8_t> ReadFrame(int addr, int start, int count) {
    std::vector<std::uint8_t> req(8);
    CModbusRtu().BuildReadRegisters(req, addr, start, count);
    return req;
}

// The slave opened raw by name, as a serial master would, written and read directly.
class RawSlave {
public:
    explicit RawSlave(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetspeed(&tio, B9600);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~RawSlave() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void Send(const std::vector<std::uint8_t>& bytes) const {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Whatever is readable right now, without waiting.
    std::vector<std::uint8_t> Pending() const {
        std::uint8_t b[512];
        const ssize_t n = ::read(fd_, b, sizeof b);
        return n > 0 ? std::vector<std::uint8_t>(b, b + n) : std::vector<std::uint8_t>{};
    }
    // What arrives until `count` bytes came or the bound ran out.
    std::vector<std::uint8_t> Receive(std::size_t count, int boundMs = 2000) const {
        std::vector<std::uint8_t> out;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  until - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
            std::uint8_t b[512];
            const ssize_t n = ::read(fd_, b, sizeof b);
            if (n > 0) out.insert(out.end(), b, b + n);
        }
        return out;
    }

private:
    int fd_ = -1;
};

struct Served {
    RealClock clock;
    VirtualBus bus{clock};
    PtyBusServer server{bus};
    Served() {
        bus.AddModule(1);
        EXPECT_TRUE(server.Start());
    }
};

std::size_t ServedCount(const PtyBusServer& server) {
    return server.FramesServed() + server.RawServed();
}

// Reads from the real port until `expect` bytes came (bounded); with 0, takes what is there.
std::vector<std::uint8_t> Collect(CSerialPort& port, std::size_t expect) {
    std::vector<std::uint8_t> out;
    (void)WaitUntil(
        [&] {
            std::uint8_t buf[1100];
            const int n = port.Read(buf);
            out.insert(out.end(), buf, buf + n);
            return out.size() >= expect;
        },
        expect == 0 ? 0 : 2000);
    return out;
}

// One exchange on the real port: write, wait until the server has served the request (its
// reply, if any, is then on the line), and collect the reply.
std::vector<std::uint8_t> Exchange(const PtyBusServer& server, CSerialPort& port,
                                   const std::vector<std::uint8_t>& req, std::size_t expect) {
    const std::size_t before = ServedCount(server);
    if (port.Write(req) != static_cast<int>(req.size())) return {};
    if (!WaitUntil([&] { return ServedCount(server) > before; })) return {};
    return Collect(port, expect);
}

}  // namespace

TEST(PtyBusServerFraming, RequestSplitAcrossWritesIsServedOnceComplete) {
    Served s;
    RawSlave slave(s.server.SlavePath());
    ASSERT_TRUE(slave.ok());
    const auto req = ReadFrame(1, 0, 10);
    slave.Send({req.begin(), req.begin() + 5});
    ASSERT_TRUE(WaitUntil([&] { return s.server.BytesHeld() == 5; }));
    EXPECT_TRUE(slave.Pending().empty());
    EXPECT_EQ(s.server.FramesServed(), 0u);
    slave.Send({req.begin() + 5, req.end()});
    EXPECT_EQ(slave.Receive(25).size(), 25u);
}

TEST(PtyBusServerFraming, BackToBackRequestsGetTwoReplies) {
    Served s;
    RawSlave slave(s.server.SlavePath());
    auto req = ReadFrame(1, 0, 2);
    const auto second = WithCrc({1, 0x10, 0x01, 0xF8, 0x00, 0x01, 0x02, 0x5D, 0xC0});  // 504 = 24000
    req.insert(req.end(), second.begin(), second.end());
    slave.Send(req);
    const auto rx = slave.Receive(9 + 8);
    ASSERT_EQ(rx.size(), 17u);
    EXPECT_EQ(rx[1], 0x03);
    EXPECT_EQ(rx[10], 0x10);
    EXPECT_EQ(s.bus.ReadRegister(1, 504), 24000);
}

TEST(PtyBusServerFraming, GarbageAndBadFramesAreSkipped) {
    Served s;
    RawSlave slave(s.server.SlavePath());
    auto bad = ReadFrame(1, 0, 10);
    bad[7] ^= 0xFF;
    std::vector<std::uint8_t> stream{0x00, 0xFF, 0x10, 0x55};
    stream.reserve(20);  // GCC 12 sees a false array bound in the growing insert
    stream.insert(stream.end(), bad.begin(), bad.end());
    const auto good = ReadFrame(1, 0, 10);
    stream.insert(stream.end(), good.begin(), good.end());
    slave.Send(stream);
    const auto rx = slave.Receive(25);
    ASSERT_EQ(rx.size(), 25u);
    EXPECT_EQ(rx[0], 1);
    ASSERT_TRUE(WaitUntil([&] { return s.server.FramesServed() == 1 && s.server.BytesHeld() == 0; }));
    EXPECT_EQ(s.server.BytesDropped(), stream.size() - good.size());
    EXPECT_TRUE(slave.Pending().empty());  // one reply only
}

TEST(PtyBusServerFraming, UnknownFunctionWithGoodCrcGetsIllegalFunction) {
    Served s;
    RawSlave slave(s.server.SlavePath());
    slave.Send(WithCrc({1, 0x2B, 0x0E, 0x01, 0x00}));
    EXPECT_EQ(slave.Receive(5), ExceptionFrame(1, 0x2B, 1));
}

TEST(PtyBusServerSerialPort, RealPortAndFrameLayerReadAndWrite) {
    Served s;
    CSerialPort port;
    ASSERT_TRUE(port.Open(s.server.SlavePath(), 9600, 8, 0, 0));
    std::vector<std::int32_t> regs(128);
    auto rx = Exchange(s.server, port, ReadFrame(1, 0, 10), 25);
    rx.resize(200);
    ASSERT_TRUE(CModbusRtu().CheckReadRegistersReply(rx, regs));
    EXPECT_NEAR(regs[0], 22000, 100);

    std::vector<std::uint8_t> req(13);
    const std::vector<std::int32_t> limits{25000, 19000};
    CModbusRtu().BuildWriteRegisters(req, 1, 504, 2, limits);
    rx = Exchange(s.server, port, req, 8);
    rx.resize(200);
    EXPECT_TRUE(CModbusRtu().CheckWriteRegistersReply(rx));
    rx = Exchange(s.server, port, ReadFrame(1, 504, 2), 9);
    rx.resize(200);
    ASSERT_TRUE(CModbusRtu().CheckReadRegistersReply(rx, regs));
    EXPECT_EQ(regs[0], 25000);
    EXPECT_EQ(regs[1], 19000);
}

TEST(PtyBusServerSerialPort, ModuleFollowsItsBaudAndThePortReconnects) {
    Served s;
    CSerialPort port;
    ASSERT_TRUE(port.Open(s.server.SlavePath(), 9600, 8, 0, 0));
    std::vector<std::uint8_t> req(11);
    CModbusRtu().BuildWriteRegisters(req, 1, 501, 1, std::vector<std::int32_t>{2});
    EXPECT_EQ(Exchange(s.server, port, req, 8).size(), 8u);
    EXPECT_TRUE(Exchange(s.server, port, ReadFrame(1, 0, 10), 0).empty());
    port.Close();
    // Closed and opened again by name at the new rate: the slave stays available.
    ASSERT_TRUE(port.Open(s.server.SlavePath(), 19200, 8, 0, 0));
    EXPECT_EQ(Exchange(s.server, port, ReadFrame(1, 0, 10), 25).size(), 25u);
}

TEST(PtyBusServerSerialPort, PauseInsideAReplyEndsTheRealPortsReadAndTheRestComesLater) {
    Served s;
    BusFault late{BusFault::Kind::Late};
    late.lateAfter = 10;
    late.extraMs = 100;  // far beyond 3c = 6 ms
    s.bus.InjectFault(1, late);
    CSerialPort port;
    ASSERT_TRUE(port.Open(s.server.SlavePath(), 9600, 8, 0, 0));
    ASSERT_EQ(port.Write(ReadFrame(1, 0, 10)), 8);
    std::uint8_t buf[300];
    int first = 0;
    ASSERT_TRUE(WaitUntil([&] { return (first = port.Read(buf)) > 0; }));
    EXPECT_EQ(first, 10);
    std::vector<std::uint8_t> rx(buf, buf + first);
    const auto rest = Collect(port, 15);
    rx.insert(rx.end(), rest.begin(), rest.end());
    ASSERT_EQ(rx.size(), 25u);
    std::vector<std::int32_t> regs(16);
    EXPECT_TRUE(CModbusRtu().CheckReadRegistersReply(rx, regs));
}

TEST(PtyBusServerSerialPort, StopIsPromptWithALateReplyPendingAndSafeTwice) {
    Served s;
    BusFault late{BusFault::Kind::Late};
    late.extraMs = 60000;
    s.bus.InjectFault(1, late);
    RawSlave slave(s.server.SlavePath());
    std::vector<std::uint8_t> req(11);
    CModbusRtu().BuildWriteRegisters(req, 1, 1023, 1, std::vector<std::int32_t>{77});
    slave.Send(req);
    // The module has acted on the request: the server is waiting out the delay.
    ASSERT_TRUE(WaitUntil([&] { return s.bus.ReadRegister(1, 1023) == 77; }));
    const auto start = std::chrono::steady_clock::now();
    s.server.Stop();  // would hang for a minute if the delay were waited whole
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(slave.Pending().empty());
    EXPECT_FALSE(s.server.Running());
    EXPECT_TRUE(s.server.SlavePath().empty());
    s.server.Stop();
    EXPECT_TRUE(s.server.Start());  // and it can serve again
}

TEST(PtyBusServerRaw, MenuKeyAndABlockWrittenInPiecesReachTheHandlerAndModbusGoesOn) {
    Served s;
    s.bus.WithModule(1, [](VirtualModule& m) { m.SetRawHandler(std::make_unique<MenuLoader>()); });
    CSerialPort port;
    ASSERT_TRUE(port.Open(s.server.SlavePath(), 9600, 8, 0, 0));
    EXPECT_EQ(Exchange(s.server, port, ReadFrame(1, 500, 1), 7), WithCrc({1, 0x03, 0x02, 0x00, 0x01}));

    const std::vector<std::uint8_t> menu(MenuLoader::kMenu.begin(), MenuLoader::kMenu.end());
    EXPECT_EQ(Exchange(s.server, port, {'1'}, menu.size()), menu);

    // A block in three writes, as a writer that fills the driver's buffer sends it: held
    // whole and unanswered until its last byte is there.
    const auto block = MenuLoader::Block(1);
    std::size_t sent = 0;
    for (const std::size_t upTo : {std::size_t{1}, std::size_t{700}}) {
        ASSERT_EQ(port.Write(std::span(block).subspan(sent, upTo - sent)), static_cast<int>(upTo - sent));
        sent = upTo;
        ASSERT_TRUE(WaitUntil([&] { return s.server.BytesHeld() == sent; })) << sent;
        EXPECT_TRUE(Collect(port, 0).empty());
    }
    const std::vector<std::uint8_t> rest(block.begin() + static_cast<std::ptrdiff_t>(sent), block.end());
    EXPECT_EQ(Exchange(s.server, port, rest, 1), std::vector<std::uint8_t>{MenuLoader::kAck});
    EXPECT_EQ(s.server.RawServed(), 2u);
    EXPECT_EQ(s.server.BytesDropped(), 0u);
    s.bus.WithModule(1, [&](VirtualModule& m) {
        const auto& blocks = dynamic_cast<const MenuLoader&>(*m.Raw()).Blocks();
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0], block);
    });

    // Modbus in the middle of a transfer, then its end.
    EXPECT_EQ(Exchange(s.server, port, ReadFrame(1, 500, 1), 7), WithCrc({1, 0x03, 0x02, 0x00, 0x01}));
    EXPECT_EQ(Exchange(s.server, port, {MenuLoader::kEot}, 1), std::vector<std::uint8_t>{MenuLoader::kAck});
    EXPECT_EQ(s.server.FramesServed(), 2u);
}

TEST(EmbeddedSim, ServesOneModuleAtItsAddressAndRate) {
    EmbeddedSim sim(5, 19200);
    EXPECT_TRUE(sim.PortPath().empty());
    ASSERT_TRUE(sim.Start());
    ASSERT_FALSE(sim.PortPath().empty());
    CSerialPort port;
    ASSERT_TRUE(port.Open(sim.PortPath(), 19200, 8, 0, 0));
    EXPECT_EQ(Exchange(sim.Server(), port, ReadFrame(5, 500, 1), 7), WithCrc({5, 0x03, 0x02, 0x00, 0x05}));
    EXPECT_EQ(Exchange(sim.Server(), port, ReadFrame(5, 501, 1), 7), WithCrc({5, 0x03, 0x02, 0x00, 0x02}));
    EXPECT_TRUE(Exchange(sim.Server(), port, ReadFrame(1, 500, 1), 0).empty());
    ASSERT_TRUE(port.Open(sim.PortPath(), 9600, 8, 0, 0));
    EXPECT_TRUE(Exchange(sim.Server(), port, ReadFrame(5, 500, 1), 0).empty());
    port.Close();
    sim.Stop();
    EXPECT_TRUE(sim.PortPath().empty());
}
