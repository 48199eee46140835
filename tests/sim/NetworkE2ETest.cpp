// kvt40ctl over the network: through Debian's ser2net on loopback (raw and RFC 2217) in
// front of kvt40-sim's pty, and through kvt40-sim's own TCP listener. What goes over the
// network must read as it reads over the local pty.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>

#include <fstream>
#include <sstream>

#include "Process.h"
#include "link/NetworkPort.h"

namespace {

std::string FindSer2net() {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
        const std::string path = std::string(dir) + "ser2net";
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

// A loopback port nobody listens on now (the kernel's pick, released again).
int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

// Whether module 1 answers at `address`: ser2net is up and has its device open. A bare
// connect is not enough, and one dropped at once can catch ser2net half-way through opening
// the device, which then turns the next client away.
bool Answers(const std::string& address) {
    CNetworkPort link;
    if (!link.Open(address + "?connect=200", 9600, 8, 0, 0)) return false;
    const std::vector<std::uint8_t> request = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    if (link.Write(request) != static_cast<int>(request.size())) return false;
    std::vector<std::uint8_t> reply(7);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (link.IsOpen() && std::chrono::steady_clock::now() < until)
        if (link.Read(reply) > 0) return true;
    return false;
}

std::string RawAddress(int port) {
    return "tcp://127.0.0.1:" + std::to_string(port);
}
std::string RfcAddress(int port) {
    return "rfc2217://127.0.0.1:" + std::to_string(port);
}

// ser2net serving two ptys on two loopback ports, raw and RFC 2217, from a generated
// configuration; stopped (and reaped) with the object. Each accepter has a device of its
// own: ser2net turns a client away while another accepter still closes a shared one.
class Ser2net {
public:
    Ser2net(const std::string& exe, const std::string& rawPty, int rawPort, const std::string& rfcPty,
            int rfcPort) {
        config_ = ::testing::TempDir() + "kvt40-ser2net-" + std::to_string(rawPort) + ".yaml";
        std::ofstream(config_) << "connection: &raw\n"
                               << "  accepter: tcp,127.0.0.1," << rawPort << "\n"
                               << "  connector: serialdev," << rawPty << ",9600n81,local\n"
                               << "  options:\n    kickolduser: true\n"
                               << "connection: &rfc2217\n"
                               << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfcPort << "\n"
                               << "  connector: serialdev," << rfcPty << ",9600n81,local\n"
                               << "  options:\n    kickolduser: true\n";
        pid_ = e2e::Spawn({exe, "-n", "-u", "-c", config_, "-P", config_ + ".pid"}, out_, true);
        // Up once the bus answers through both (bounded).
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!(Answers(RawAddress(rawPort)) && Answers(RfcAddress(rfcPort))) &&
               std::chrono::steady_clock::now() < until) {
        }
    }
    ~Ser2net() { Stop(); }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        (void)e2e::Reap(pid_, out_, 5000);
        pid_ = -1;
    }

private:
    std::string config_;
    pid_t pid_ = -1;
    int out_ = -1;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// The cells of a tab-separated line at `columns`: the fixed texts of a table whose live
// values differ from one reading to the next.
std::string Cells(const std::string& line, std::initializer_list<std::size_t> columns) {
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string c; std::getline(in, c, '\t');) cells.push_back(c);
    std::string out;
    for (const std::size_t i : columns) out += (i < cells.size() ? cells[i] : "<none>") + "|";
    return out;
}

class OverSer2net : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = FindSer2net();
        if (exe_.empty())
            GTEST_SKIP()
                << "ser2net is not installed (scripts/setup.sh installs it): the tests through a serial "
                   "device server did not run";
        const std::vector<std::string> modules{"--bench", "--address", "1", "--address", "7"};
        sim_ = std::make_unique<e2e::SimProcess>(modules);
        rfcSim_ = std::make_unique<e2e::SimProcess>(modules);
        ASSERT_FALSE(sim_->Path().empty() || rfcSim_->Path().empty());
        rawPort_ = FreePort();
        rfcPort_ = FreePort();
        StartSer2net();
        ASSERT_TRUE(Answers(Raw()) && Answers(Rfc())) << "ser2net did not come up";
    }
    void StartSer2net() {
        ser2net_ = std::make_unique<Ser2net>(exe_, sim_->Path(), rawPort_, rfcSim_->Path(), rfcPort_);
    }
    // The local pty behind each address (two modules alike on each).
    const std::string& PtyOf(const std::string& address) const {
        return address == Rfc() ? rfcSim_->Path() : sim_->Path();
    }
    std::string Raw() const { return RawAddress(rawPort_); }
    std::string Rfc() const { return RfcAddress(rfcPort_); }
    static e2e::RunResult Ctl(const std::string& port, std::vector<std::string> args, bool withStderr = false,
                              int boundMs = 30000) {
        args.insert(args.begin(), {KVT40CTL_EXE, "--port", port});
        return e2e::Run(args, withStderr, boundMs);
    }

    std::string exe_;
    std::unique_ptr<e2e::SimProcess> sim_;     // behind the raw port
    std::unique_ptr<e2e::SimProcess> rfcSim_;  // behind the RFC 2217 port
    std::unique_ptr<Ser2net> ser2net_;
    int rawPort_ = 0;
    int rfcPort_ = 0;
};

}  // namespace

TEST_F(OverSer2net, CommandsReadAsOverThePty) {
    for (const std::string& port : {Raw(), Rfc()}) {
        const std::string& pty = PtyOf(port);
        const auto localMeasure = Ctl(pty, {"measure"});
        const auto localCal = Ctl(pty, {"calibrate", "--view", "line", "--mode", "test"});
        const auto localLimits = Ctl(pty, {"limits"});
        const auto localScan = Ctl(pty, {"scan", "--from", "1", "--to", "10"});
        ASSERT_EQ(localMeasure.code, 0);
        ASSERT_EQ(localScan.out, "1\n7\n");
        const auto measure = Ctl(port, {"measure"});
        EXPECT_EQ(measure.code, 0) << port;
        const auto a = Lines(localMeasure.out), b = Lines(measure.out);
        ASSERT_EQ(a.size(), b.size()) << port << "\n" << measure.out;
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_EQ(Cells(a[i], {0}), Cells(b[i], {0})) << port << " line " << i;

        const auto cal = Ctl(port, {"calibrate", "--view", "line", "--mode", "test"});
        EXPECT_EQ(cal.code, localCal.code) << port;
        const auto c = Lines(localCal.out), d = Lines(cal.out);
        ASSERT_EQ(c.size(), d.size()) << port << "\n" << cal.out;
        for (std::size_t i = 0; i < c.size(); ++i)
            EXPECT_EQ(Cells(c[i], {0, 1, 2, 4, 5}), Cells(d[i], {0, 1, 2, 4, 5})) << port << " line " << i;

        EXPECT_EQ(Ctl(port, {"limits"}).out, localLimits.out) << port;
        EXPECT_EQ(Ctl(port, {"scan", "--from", "1", "--to", "10"}).out, localScan.out) << port;
    }
}

TEST_F(OverSer2net, LimitsWrittenOverTheNetworkReadBackLocally) {
    const std::string file = ::testing::TempDir() + "kvt40-net-limits.txt";
    {
        std::ofstream out(file);
        out << "250.00\n180.00\n";
        for (int n = 1; n <= 30; ++n) out << (n == 3 ? "12.50" : "16.00") << "\n";
    }
    const auto set = Ctl(Rfc(), {"limits", "--set", file}, true);
    ASSERT_EQ(set.code, 0) << set.out;
    const auto back = Ctl(PtyOf(Rfc()), {"limits"});
    EXPECT_NE(back.out.find("Voltage Upper limit\t250.00 V\t250.00"), std::string::npos) << back.out;
    EXPECT_NE(back.out.find("Outlet 3 Current Upper limit\t12.50  A\t12.50"), std::string::npos) << back.out;
}

TEST_F(OverSer2net, FirmwareUpdateOfSixtyKibOverRfc2217) {
    const std::string image = ::testing::TempDir() + "kvt40-net-60k.bin";
    {
        std::ofstream out(image, std::ios::binary);
        for (int i = 0; i < 60 * 1024; ++i) out.put(static_cast<char>((i * 7 + 3) & 0xFF));
    }
    const auto update = Ctl(Rfc(), {"update", "--image", image, "--address", "7"}, false, 120000);
    EXPECT_EQ(update.code, 0);
    EXPECT_EQ(update.out, "7\t升级成功,校表正确!\n");
}

// The line RFC 2217 asks for is the line ser2net sets on its serial side, at the open and
// again at a change of baud (as the communication parameters form makes one).
TEST_F(OverSer2net, Rfc2217SetsTheRemoteLine) {
    const auto slaveSpeed = [this] {
        termios tio{};
        const int fd = ::open(PtyOf(Rfc()).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const bool ok = fd >= 0 && tcgetattr(fd, &tio) == 0;
        if (fd >= 0) ::close(fd);
        return ok ? cfgetospeed(&tio) : speed_t{0};
    };
    // ser2net turns a client away while it still closes the device for the one before (the
    // readiness probe, a moment ago): the first connection is retried within a bound.
    CNetworkPort port;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!port.Open(Rfc(), 19200, 8, 2, 0) && std::chrono::steady_clock::now() < until) {
    }
    ASSERT_TRUE(port.IsOpen()) << port.OpenFailureText();
    EXPECT_EQ(slaveSpeed(), speed_t{B19200});
    ASSERT_TRUE(port.Open(Rfc(), 4800, 8, 0, 0)) << port.OpenFailureText();
    EXPECT_EQ(slaveSpeed(), speed_t{B4800});
    ASSERT_TRUE(port.Open(Rfc(), 9600, 8, 0, 0)) << port.OpenFailureText();
    EXPECT_EQ(slaveSpeed(), speed_t{B9600});
}

// Each fault is one clear line after the scripts' fixed one, exit 1, nothing sent.
TEST_F(OverSer2net, ConnectionFaultsExitOneWithWhy) {
    const int nobody = FreePort();
    const auto refused = Ctl("tcp://127.0.0.1:" + std::to_string(nobody), {"probe"}, true);
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.out, "Cannot opentcp://127.0.0.1:" + std::to_string(nobody) +
                               "!\nkvt40ctl: connection refused by 127.0.0.1:" + std::to_string(nobody) +
                               "\n");
    const auto unknown = Ctl("rfc2217://no-such-host.invalid:2217", {"probe"}, true);
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.out.find("kvt40ctl: cannot resolve host no-such-host.invalid: "), std::string::npos)
        << unknown.out;
    // ser2net's raw port speaks no Telnet: RFC 2217 is never taken up there.
    const auto plain = Ctl(Raw().replace(0, 3, "rfc2217") + "?connect=300", {"probe"}, true);
    EXPECT_EQ(plain.code, 1);
    EXPECT_NE(plain.out.find("did not take up RFC 2217 serial port control within 300 ms"), std::string::npos)
        << plain.out;
}

// ser2net going away under measure --watch is a lost port, as a pulled adapter is: told,
// reopened every second, and the cycle goes on once the server is back.
TEST_F(OverSer2net, WatchReconnectsAfterTheServerWentAway) {
    int fd = -1;
    const pid_t watch = e2e::Spawn({KVT40CTL_EXE, "--port", Raw(), "measure", "--watch"}, fd, true);
    std::string seen = e2e::ReadUntil(
        fd, 10000, [](const std::string& s) { return s.find("\n", s.find('\n') + 1) != std::string::npos; });
    ASSERT_NE(seen.find("time,Ua,"), std::string::npos) << seen;
    ser2net_->Stop();
    seen += e2e::ReadUntil(fd, 10000,
                           [](const std::string& s) { return s.find("port lost") != std::string::npos; });
    // Closed or reset, as the server's system takes the connection down.
    const std::string endpoint = "127.0.0.1:" + std::to_string(rawPort_);
    EXPECT_NE(seen.find("port lost (the connection was "), std::string::npos) << seen;
    EXPECT_NE(seen.find(endpoint + "); reopening every 1 s"), std::string::npos) << seen;
    StartSer2net();
    seen += e2e::ReadUntil(
        fd, 15000, [](const std::string& s) { return s.find("cycle restarted") != std::string::npos; });
    EXPECT_NE(seen.find(" port back\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find(" cycle restarted\n"), std::string::npos) << seen;
    kill(watch, SIGTERM);
    EXPECT_EQ(e2e::Reap(watch, fd, 5000), 130);
}

// kvt40-sim's own listener serves the same bus as its pty, both at once.
TEST(SimListener, ServesTheBusOverTcpBesideThePty) {
    int fd = -1;
    const pid_t sim = e2e::Spawn({KVT40_SIM_EXE, "--listen", "tcp:0", "--address", "3"}, fd);
    const std::string out = e2e::ReadUntil(
        fd, 5000, [](const std::string& s) { return std::count(s.begin(), s.end(), '\n') >= 2; });
    const auto lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    ASSERT_TRUE(lines[1].starts_with("tcp://127.0.0.1:")) << out;
    CNetworkPort held;  // a TCP client stays connected while the pty is used
    ASSERT_TRUE(held.Open(lines[1], 9600, 8, 0, 0)) << held.OpenFailureText();
    const auto overPty = e2e::Run({KVT40CTL_EXE, "--port", lines[0], "--address", "3", "limits"});
    held.Close();
    const auto overTcp = e2e::Run({KVT40CTL_EXE, "--port", lines[1], "--address", "3", "limits"});
    EXPECT_EQ(overPty.code, 0);
    EXPECT_EQ(overTcp.code, 0);
    EXPECT_EQ(overTcp.out, overPty.out);
    kill(sim, SIGTERM);
    EXPECT_EQ(e2e::Reap(sim, fd, 5000), 0);
}
