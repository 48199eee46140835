// The network port against loopback peers: addresses, the read rule with segments that
// trickle, the RFC 2217 negotiation and data escaping, and the connection faults.
#include "link/NetworkPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "support/Frames.h"
#include "support/TcpPeer.h"

namespace {

// The port never waits for a first byte: look until one is there (bounded), then Read.
int ReadWhenThere(CNetworkPort& port, std::span<std::uint8_t> buf, int boundMs = 3000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    int got = 0;
    while ((got = port.Read(buf)) == 0 && port.IsOpen() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    return got;
}

Frame Cat(std::initializer_list<Frame> parts) {
    Frame out;
    for (const Frame& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Frame Slice(const Frame& b, std::size_t from, std::size_t to) {
    return Frame(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace

TEST(PortAddress, NamesAndTheirSettings) {
    std::string error;
    const auto raw = ParsePortAddress("tcp://10.0.0.7:4001", error);
    ASSERT_TRUE(raw) << error;
    EXPECT_EQ(raw->kind, PortAddress::Kind::Raw);
    EXPECT_EQ(raw->Endpoint(), "10.0.0.7:4001");
    EXPECT_EQ(raw->gapMs, kDefaultNetworkGapMs);
    EXPECT_EQ(raw->connectMs, kDefaultConnectMs);

    const auto telnet = ParsePortAddress("rfc2217://[::1]:2217?connect=500&gap=0", error);
    ASSERT_TRUE(telnet) << error;
    EXPECT_EQ(telnet->kind, PortAddress::Kind::Rfc2217);
    EXPECT_EQ(telnet->host, "::1");
    EXPECT_EQ(telnet->Endpoint(), "[::1]:2217");
    EXPECT_EQ(telnet->gapMs, 0);
    EXPECT_EQ(telnet->connectMs, 500);

    EXPECT_TRUE(IsNetworkAddress("tcp://nowhere"));  // malformed, but never a device path
    EXPECT_FALSE(IsNetworkAddress("/dev/ttyUSB0"));
    for (const auto& [name, message] : std::vector<std::pair<std::string, std::string>>{
             {"tcp://host", "no port in tcp://host (HOST:PORT, an IPv6 host as [ADDRESS]:PORT)"},
             {"tcp://::1:502", "no port in tcp://::1:502 (HOST:PORT, an IPv6 host as [ADDRESS]:PORT)"},
             {"tcp://:502", "no host in tcp://:502"},
             {"tcp://host:0", "bad port '0' in tcp://host:0 (1..65535)"},
             {"tcp://host:70000", "bad port '70000' in tcp://host:70000 (1..65535)"},
             {"tcp://host:502?gap=-1", "bad gap '-1' (0..5000 ms)"},
             {"tcp://host:502?connect=50", "bad connect time-out '50' (100..60000 ms)"},
             {"tcp://host:502?gap=1&gap=2", "unknown or repeated setting 'gap=2' (gap=MS, connect=MS)"},
             {"tcp://host:502?baud=9600", "unknown or repeated setting 'baud=9600' (gap=MS, connect=MS)"},
         }) {
        error.clear();
        EXPECT_FALSE(ParsePortAddress(name, error)) << name;
        EXPECT_EQ(error, message) << name;
    }
}

// A reply in segments with gaps far longer than the serial gap comes whole, and the Read
// ends at the frame its header announces: the next frame's bytes are not taken with it.
TEST(NetworkPortRead, ReplyInSegmentsComesWhole) {
    const Frame request = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    const Frame reply = ProbeReply(1);  // 25 bytes
    const Frame stray = ExceptionFrame(1, 0x03, 2);
    TcpPeer peer({TcpPeer::Expect(request), TcpPeer::Send(Slice(reply, 0, 1)), TcpPeer::Pause(30),
                  TcpPeer::Send(Slice(reply, 1, 9)), TcpPeer::Pause(120),
                  TcpPeer::Send(Cat({Slice(reply, 9, reply.size()), stray}))});
    CNetworkPort port;
    ASSERT_TRUE(port.Open(peer.Address("tcp"), 9600, 8, 0, 0)) << port.OpenFailureText();
    ASSERT_EQ(port.Write(request), static_cast<int>(request.size()));
    std::vector<std::uint8_t> rx(200);
    ASSERT_EQ(ReadWhenThere(port, rx), static_cast<int>(reply.size()));
    EXPECT_EQ(Frame(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(reply.size())), reply);
    // The stray frame waits for the next Read, and the next Write purges it.
    ASSERT_TRUE(peer.Finished());
    EXPECT_EQ(ReadWhenThere(port, rx), static_cast<int>(stray.size()));
}

// Raw traffic (no Modbus request before it) ends on silence: gaps under the network gap
// join segments, a longer one ends the Read; the address's gap setting moves the line.
TEST(NetworkPortRead, RawTrafficEndsOnSilence) {
    const Frame banner = {'B', 'o', 'o', 't', ' ', 'v', '1', '.', '0', '\r', '\n'};
    for (const auto& [query, firstRead] :
         std::vector<std::pair<std::string, std::size_t>>{{"?gap=150", 5}, {"?gap=900", 11}}) {
        TcpPeer peer({TcpPeer::Expect({'x'}), TcpPeer::Send(Slice(banner, 0, 2)), TcpPeer::Pause(40),
                      TcpPeer::Send(Slice(banner, 2, 5)), TcpPeer::Pause(400),
                      TcpPeer::Send(Slice(banner, 5, 11))});
        CNetworkPort port;
        ASSERT_TRUE(port.Open(peer.Address("tcp", query), 9600, 8, 0, 0)) << port.OpenFailureText();
        ASSERT_EQ(port.Write(Frame{'x'}), 1);
        std::vector<std::uint8_t> rx(64);
        const int got = ReadWhenThere(port, rx);
        EXPECT_EQ(got, static_cast<int>(firstRead)) << query;
        EXPECT_EQ(Frame(rx.begin(), rx.begin() + got), Slice(banner, 0, firstRead)) << query;
    }
}

// A fake server of RFC 2217: it takes up the COM-port control, confirms the line, and the
// data 255 travels doubled both ways.
TEST(NetworkPortRfc2217, NegotiatesSetsTheLineAndEscapesData) {
    // The client's line commands, as a server must see them for 19200 8E1 and no flow control.
    const Frame setLine = {255, 250, 44, 1, 0, 0,   0x4B, 0, 255, 240,  // baud 19200
                           255, 250, 44, 2, 8, 255, 240,                // 8 data bits
                           255, 250, 44, 3, 3, 255, 240,                // even parity
                           255, 250, 44, 4, 1, 255, 240,                // one stop bit
                           255, 250, 44, 5, 1, 255, 240};               // no flow control
    const Frame confirm = {255, 250, 44,  101, 0,   0, 0x4B, 0,   255, 240, 255, 250, 44, 102, 8,  255,
                           240, 255, 250, 44,  103, 3, 255,  240, 255, 250, 44,  104, 1,  255, 240};
    const Frame request = WithCrc({0x01, 0x06, 0x00, 0xFF, 0x00, 0xFF});  // a write echo, 255s inside
    Frame onWire;
    for (const std::uint8_t b : request) {
        onWire.push_back(b);
        if (b == 255) onWire.push_back(b);
    }
    TcpPeer peer({TcpPeer::Expect({255, 253, 3}),
                  TcpPeer::Send({255, 253, 44, 255, 251, 1}),  // DO COM, WILL ECHO
                  TcpPeer::Expect(setLine), TcpPeer::Send(confirm), TcpPeer::Expect(onWire),
                  TcpPeer::Send(Slice(onWire, 0, 4)), TcpPeer::Pause(30),
                  TcpPeer::Send(Slice(onWire, 4, onWire.size()))});
    CNetworkPort port;
    ASSERT_TRUE(port.Open(peer.Address("rfc2217"), 19200, 8, 2, 0)) << port.OpenFailureText();
    ASSERT_EQ(port.Write(request), static_cast<int>(request.size()));
    std::vector<std::uint8_t> rx(200);
    ASSERT_EQ(ReadWhenThere(port, rx), static_cast<int>(request.size()));
    EXPECT_EQ(Frame(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(request.size())), request);
    // The offer came first, and the server's WILL ECHO was refused.
    const Frame got = peer.Received();
    const Frame offer = {255, 251, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3};
    ASSERT_GE(got.size(), offer.size());
    EXPECT_EQ(Slice(got, 0, offer.size()), offer);
    const Frame dontEcho = {255, 254, 1};
    EXPECT_NE(std::search(got.begin(), got.end(), dontEcho.begin(), dontEcho.end()), got.end());
}

TEST(NetworkPortRfc2217, RefusalsAndWrongLinesAreReported) {
    {
        TcpPeer peer({TcpPeer::Expect({255, 253, 3}), TcpPeer::Send({255, 254, 44})});  // DONT COM-PORT
        CNetworkPort port;
        EXPECT_FALSE(port.Open(peer.Address("rfc2217"), 9600, 8, 0, 0));
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.OpenFailureText(), "the server at 127.0.0.1:" + std::to_string(peer.Port()) +
                                              " refused RFC 2217 serial port control");
    }
    {
        // The server keeps its port at 9600 whatever is asked.
        const Frame confirm = {255, 250, 44,  101, 0,   0, 0x25, 0x80, 255, 240, 255, 250, 44, 102, 8,  255,
                               240, 255, 250, 44,  103, 1, 255,  240,  255, 250, 44,  104, 1,  255, 240};
        TcpPeer peer({TcpPeer::Expect({255, 253, 3}), TcpPeer::Send({255, 253, 44}),
                      TcpPeer::Expect({255, 250, 44, 5, 1, 255, 240}), TcpPeer::Send(confirm)});
        CNetworkPort port;
        EXPECT_FALSE(port.Open(peer.Address("rfc2217"), 19200, 8, 0, 0));
        EXPECT_EQ(port.OpenFailureText(), "the server at 127.0.0.1:" + std::to_string(peer.Port()) +
                                              " set its line to 9600 bps 8N1 instead of 19200 bps 8N1");
    }
    {
        // A plain TCP server that says nothing: the negotiation times out.
        TcpPeer peer({TcpPeer::Pause(2000)});
        CNetworkPort port;
        EXPECT_FALSE(port.Open(peer.Address("rfc2217", "?connect=200"), 9600, 8, 0, 0));
        EXPECT_EQ(port.OpenFailureText(), "the server at 127.0.0.1:" + std::to_string(peer.Port()) +
                                              " did not take up RFC 2217 serial port control within 200 ms");
    }
}

TEST(NetworkPortFaults, ConnectFailuresSayWhy) {
    CNetworkPort port;
    int closedPort = 0;
    {
        TcpPeer gone({});
        closedPort = gone.Port();
    }
    EXPECT_FALSE(port.Open("tcp://127.0.0.1:" + std::to_string(closedPort), 9600, 8, 0, 0));
    EXPECT_EQ(port.OpenFailureText(), "connection refused by 127.0.0.1:" + std::to_string(closedPort));

    EXPECT_FALSE(port.Open("tcp://no-such-host.invalid:4001", 9600, 8, 0, 0));
    EXPECT_TRUE(port.OpenFailureText().starts_with("cannot resolve host no-such-host.invalid: "))
        << port.OpenFailureText();

    EXPECT_FALSE(port.Open("tcp://host", 9600, 8, 0, 0));
    EXPECT_EQ(port.OpenFailureText(), "no port in tcp://host (HOST:PORT, an IPv6 host as [ADDRESS]:PORT)");

    // A listener that never accepts, its queue full: the connection hangs until the time-out.
    TcpPeer full({}, 0);
    std::vector<std::unique_ptr<CNetworkPort>> fillers;
    const std::string address = full.Address("tcp", "?connect=300");
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(std::make_unique<CNetworkPort>());
        if (!fillers.back()->Open(address, 9600, 8, 0, 0)) break;
    }
    EXPECT_FALSE(fillers.back()->IsOpen()) << "the listen queue never filled";
    EXPECT_EQ(fillers.back()->OpenFailureText(),
              "no answer from 127.0.0.1:" + std::to_string(full.Port()) + " within 300 ms");
}

// The server dropping the connection is a lost port, as a pulled adapter is.
TEST(NetworkPortFaults, DroppedConnectionIsALostPort) {
    const Frame request = WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A});
    TcpPeer peer({TcpPeer::Expect(request), TcpPeer::Send(Slice(ProbeReply(1), 0, 7)), TcpPeer::Close()});
    CNetworkPort port;
    const std::string address = peer.Address("tcp");
    ASSERT_TRUE(port.Open(address, 9600, 8, 0, 0));
    ASSERT_EQ(port.Write(request), static_cast<int>(request.size()));
    std::vector<std::uint8_t> rx(200);
    EXPECT_EQ(ReadWhenThere(port, rx), 0);  // a reply cut short is no reply
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LostReason(), "the connection was closed by 127.0.0.1:" + std::to_string(peer.Port()));
    EXPECT_EQ(port.Write(request), 0);
}
