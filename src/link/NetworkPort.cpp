#include "link/NetworkPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "link/ModbusRtu.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
using Socket = SOCKET;
constexpr int kWouldBlock = WSAEWOULDBLOCK;
constexpr int kInProgress = WSAEWOULDBLOCK;
constexpr int kRefused = WSAECONNREFUSED;
constexpr int kReset = WSAECONNRESET;
constexpr int kInterrupted = WSAEINTR;
int LastError() {
    return WSAGetLastError();
}
void CloseSocket(Socket s) {
    closesocket(s);
}
int PollOne(Socket s, short events, int ms, short& revents) {
    WSAPOLLFD p{s, events, 0};
    const int n = WSAPoll(&p, 1, ms);
    revents = p.revents;
    return n;
}
bool SetNonBlocking(Socket s) {
    u_long on = 1;
    return ioctlsocket(s, static_cast<long>(FIONBIO), &on) == 0;  // the macro is unsigned, the parameter not
}
int SendSome(Socket s, const std::uint8_t* p, std::size_t n) {
    return send(s, reinterpret_cast<const char*>(p), static_cast<int>(n), 0);
}
int RecvSome(Socket s, std::uint8_t* p, std::size_t n) {
    return recv(s, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
}
std::string SystemWords(int e) {
    return std::system_category().message(e);
}
int ConnectTo(Socket s, const addrinfo& ai) {
    return ::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen));
}
// Winsock wants its start-up once per process before the first call.
void StartSockets() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
using Socket = int;
constexpr int kWouldBlock = EWOULDBLOCK;
constexpr int kInProgress = EINPROGRESS;
constexpr int kRefused = ECONNREFUSED;
constexpr int kReset = ECONNRESET;
constexpr int kInterrupted = EINTR;
int LastError() {
    return errno;
}
void CloseSocket(Socket s) {
    ::close(s);
}
int PollOne(Socket s, short events, int ms, short& revents) {
    pollfd p{s, events, 0};
    const int n = ::poll(&p, 1, ms);
    revents = p.revents;
    return n;
}
bool SetNonBlocking(Socket s) {
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
// A peer gone while we write must be a lost port, not a SIGPIPE.
int SendSome(Socket s, const std::uint8_t* p, std::size_t n) {
    return static_cast<int>(::send(s, p, n, MSG_NOSIGNAL));
}
int RecvSome(Socket s, std::uint8_t* p, std::size_t n) {
    return static_cast<int>(::recv(s, p, n, 0));
}
std::string SystemWords(int e) {
    return std::generic_category().message(e);
}
int ConnectTo(Socket s, const addrinfo& ai) {
    return ::connect(s, ai.ai_addr, ai.ai_addrlen);
}
void StartSockets() {}
#endif

constexpr Socket AsSocket(std::intptr_t s) {
    return static_cast<Socket>(s);
}
constexpr std::intptr_t kNoSocket = -1;

// The longest wait between two looks for a Close from another thread.
constexpr int kSliceMs = 20;
// Received and unread data beyond this is dropped from the front: a peer that streams
// without being asked must not grow the port without bound.
constexpr std::size_t kPendingLimit = 64 * 1024;

// Telnet (RFC 854) and its COM-port option (RFC 2217).
constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr std::uint8_t kBinary = 0, kSga = 3, kComPort = 44;
constexpr std::uint8_t kSetBaud = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4, kSetControl = 5;
constexpr std::uint8_t kServerOffset = 100;  // a server's answer to command N is N + 100
constexpr std::uint8_t kNoFlowControl = 1;

RealClock& DefaultClock() {
    static RealClock clock;
    return clock;
}

std::string LineText(std::uint32_t baud, int dataBits, int parity, int stopBits) {
    const char p = parity == 2 ? 'O' : parity == 3 ? 'E' : parity == 1 ? 'N' : '?';
    const char* s = stopBits == 1 ? "1" : stopBits == 2 ? "2" : stopBits == 3 ? "1.5" : "?";
    return std::to_string(baud) + " bps " + std::to_string(dataBits) + p + s;
}

}  // namespace

CNetworkPort::CNetworkPort() : CNetworkPort(DefaultClock()) {}

CNetworkPort::CNetworkPort(Clock& clock) : clock_(clock) {
    StartSockets();
}

CNetworkPort::~CNetworkPort() {
    Close();
}

bool CNetworkPort::Fail(const std::string& why) {
    CloseLocked();
    const std::lock_guard text(textMutex_);
    openFailure_ = why;
    return false;
}

std::string CNetworkPort::OpenFailureText() const {
    const std::lock_guard text(textMutex_);
    return openFailure_;
}

bool CNetworkPort::Open(const std::string& name, int baud, int dataBits, int parity, int stopBits) {
    const std::lock_guard lock(mutex_);
    std::string error;
    const std::optional<PortAddress> address = ParsePortAddress(name, error);
    if (!address) return Fail(error);
    if (baud <= 0) return Fail("bad baud rate " + std::to_string(baud));  // the character time divides by it
    if (!open_ || name != name_) {
        CloseLocked();
        if (!ConnectLocked(*address)) return false;
        name_ = name;
        address_ = *address;
        open_ = true;
        if (address_.kind == PortAddress::Kind::Rfc2217 && !NegotiateComPortLocked()) return false;
    }
    charMs_ = 10000 / baud + 1;
    if (address_.kind == PortAddress::Kind::Rfc2217 && !SetLineLocked(baud, dataBits, parity, stopBits))
        return false;
    pending_.clear();
    {
        const std::lock_guard text(textMutex_);
        lostReason_.clear();
        openFailure_.clear();
    }
    return true;
}

bool CNetworkPort::ConnectLocked(const PortAddress& a) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(a.host.c_str(), std::to_string(a.port).c_str(), &hints, &found); rc != 0)
        return Fail("cannot resolve host " + a.host + ": " + gai_strerror(rc));
    const std::int64_t until = NowMs() + a.connectMs;
    std::string why = "no answer from " + a.Endpoint() + " within " + std::to_string(a.connectMs) + " ms";
    for (addrinfo* ai = found; ai != nullptr && socket_ == kNoSocket; ai = ai->ai_next) {
        const Socket s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == AsSocket(kNoSocket)) continue;
        int err = 0;
        if (!SetNonBlocking(s))
            err = LastError();
        else if (ConnectTo(s, *ai) != 0)
            err = LastError();
        if (err == kInProgress || err == kWouldBlock) {
            err = -1;  // still connecting: no verdict yet
            while (err == -1) {
                const std::int64_t left = until - NowMs();
                if (left <= 0) break;
                short revents = 0;
                const int n =
                    PollOne(s, POLLOUT, static_cast<int>(std::min<std::int64_t>(left, kSliceMs)), revents);
                if (n < 0 && LastError() != kInterrupted) err = LastError();
                if (n <= 0) continue;
                int soError = 0;
                socklen_t len = sizeof soError;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
                err = soError;
            }
        }
        if (err == 0) {
            const int on = 1;  // requests are small and each is waited for: send at once
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            socket_ = static_cast<std::intptr_t>(s);
            break;
        }
        CloseSocket(s);
        if (err == kRefused)
            why = "connection refused by " + a.Endpoint();
        else if (err != -1)
            why = "cannot connect to " + a.Endpoint() + ": " + SystemWords(err);
    }
    freeaddrinfo(found);
    if (socket_ == kNoSocket) return Fail(why);
    rx_ = Rx::Data;
    sub_.clear();
    pending_.clear();
    replies_.clear();
    comPortAsked_ = false;
    comPortAccepted_.reset();
    weBinary_ = theyBinary_ = weSga_ = theySga_ = false;
    requestAddress_ = requestFunction_ = -1;
    return true;
}

void CNetworkPort::Close() {
    // Announced first, so a Read or Write in progress gives up at its next slice.
    ++closers_;
    {
        const std::lock_guard lock(mutex_);
        CloseLocked();
    }
    --closers_;
}

void CNetworkPort::CloseLocked() {
    if (socket_ != kNoSocket) CloseSocket(AsSocket(socket_));
    socket_ = kNoSocket;
    name_.clear();
    pending_.clear();
    open_ = false;
}

std::string CNetworkPort::LostText(int error) const {
    // A server stopped or restarted resets the connection: said as plainly as a close.
    if (error == kReset) return "the connection was reset by " + address_.Endpoint();
    return "the connection to " + address_.Endpoint() + " failed: " + SystemWords(error);
}

void CNetworkPort::LoseLocked(const std::string& reason) {
    {
        const std::lock_guard text(textMutex_);
        lostReason_ = reason;
    }
    CloseLocked();
}

bool CNetworkPort::IsOpen() const {
    return open_;
}

std::string CNetworkPort::LostReason() const {
    const std::lock_guard text(textMutex_);
    return lostReason_;
}

std::string CNetworkPort::Name() const {
    const std::lock_guard lock(mutex_);
    return name_;
}

bool CNetworkPort::WaitLocked(bool forWrite, int ms) {
    if (Closing() || socket_ == kNoSocket) return false;
    short revents = 0;
    (void)PollOne(AsSocket(socket_), forWrite ? POLLOUT : POLLIN, std::clamp(ms, 0, kSliceMs), revents);
    return !Closing();
}

CNetworkPort::Pump CNetworkPort::PumpLocked() {
    if (socket_ == kNoSocket) return Pump::Lost;
    std::uint8_t chunk[1024];
    for (;;) {
        const int n = RecvSome(AsSocket(socket_), chunk, sizeof chunk);
        if (n > 0) {
            if (address_.kind == PortAddress::Kind::Rfc2217) {
                for (int i = 0; i < n; ++i) Decode(chunk[i]);
            } else {
                pending_.insert(pending_.end(), chunk, chunk + n);
            }
            continue;
        }
        if (n == 0) {
            LoseLocked("the connection was closed by " + address_.Endpoint());
            return Pump::Lost;
        }
        const int e = LastError();
        if (e == kInterrupted) continue;
        if (e != kWouldBlock && e != EAGAIN) {
            LoseLocked(LostText(e));
            return Pump::Lost;
        }
        break;
    }
    if (pending_.size() > kPendingLimit)
        pending_.erase(pending_.begin(), pending_.end() - static_cast<std::ptrdiff_t>(kPendingLimit));
    if (!replies_.empty()) {
        std::vector<std::uint8_t> out;
        out.swap(replies_);
        if (!SendLocked(out, 1000)) return socket_ == kNoSocket ? Pump::Lost : Pump::Closing;
    }
    return Closing() ? Pump::Closing : Pump::Ok;
}

void CNetworkPort::Decode(std::uint8_t b) {
    switch (rx_) {
        case Rx::Data:
            if (b == kIac)
                rx_ = Rx::Iac;
            else
                pending_.push_back(b);
            return;
        case Rx::Iac:
            if (b == kIac) {
                pending_.push_back(b);  // a data byte 255, doubled on the wire
                rx_ = Rx::Data;
            } else if (b >= kWill && b <= kDont) {
                verb_ = b;
                rx_ = Rx::Verb;
            } else if (b == kSb) {
                sub_.clear();
                rx_ = Rx::Sub;
            } else {
                rx_ = Rx::Data;  // a command without an option (NOP, GA, ...): nothing to do
            }
            return;
        case Rx::Verb:
            Negotiate(verb_, b);
            rx_ = Rx::Data;
            return;
        case Rx::Sub:
            if (b == kIac)
                rx_ = Rx::SubIac;
            else if (sub_.size() < 64)
                sub_.push_back(b);
            return;
        case Rx::SubIac:
            if (b == kIac) {
                if (sub_.size() < 64) sub_.push_back(b);
                rx_ = Rx::Sub;
            } else {
                if (b == kSe) SubNegotiation();
                rx_ = Rx::Data;
            }
            return;
    }
}

// Agrees to binary transmission and to no go-aheads both ways and to the COM-port option
// from our side; refuses everything else. An answer is sent only when a state changes, so
// two ends can never echo each other for ever.
void CNetworkPort::Negotiate(std::uint8_t verb, std::uint8_t option) {
    const auto answer = [this](std::uint8_t v, std::uint8_t o) {
        replies_.insert(replies_.end(), {kIac, v, o});
    };
    if (verb == kDo || verb == kDont) {
        const bool wanted = verb == kDo;
        if (option == kComPort) {
            comPortAccepted_ = wanted;
            if (wanted && !comPortAsked_) answer(kWill, option);
            comPortAsked_ = wanted;
            return;
        }
        bool* state = option == kBinary ? &weBinary_ : option == kSga ? &weSga_ : nullptr;
        if (state == nullptr) {
            if (wanted) answer(kWont, option);
            return;
        }
        if (*state != wanted) answer(wanted ? kWill : kWont, option);
        *state = wanted;
        return;
    }
    const bool offered = verb == kWill;
    bool* state = option == kBinary ? &theyBinary_ : option == kSga ? &theySga_ : nullptr;
    if (state == nullptr) {
        if (offered) answer(kDont, option);
        return;
    }
    if (*state != offered) answer(offered ? kDo : kDont, option);
    *state = offered;
}

void CNetworkPort::SubNegotiation() {
    if (sub_.size() < 3 || sub_[0] != kComPort) return;
    const std::uint8_t command = sub_[1];
    const std::span<const std::uint8_t> value(sub_.data() + 2, sub_.size() - 2);
    switch (command) {
        case kServerOffset + kSetBaud:
            if (value.size() < 4) return;
            confirmed_.baud = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                              (std::uint32_t{value[2]} << 8) | value[3];
            break;
        case kServerOffset + kSetDataSize:
            confirmed_.dataBits = value[0];
            break;
        case kServerOffset + kSetParity:
            confirmed_.parity = value[0];
            break;
        case kServerOffset + kSetStopSize:
            confirmed_.stopBits = value[0];
            break;
        default:
            return;  // line and modem state notices and the rest: nothing we act on
    }
    ++confirmedCount_;
}

bool CNetworkPort::SendLocked(const std::vector<std::uint8_t>& wire, int boundMs) {
    const std::int64_t until = NowMs() + boundMs;
    std::size_t done = 0;
    while (done < wire.size()) {
        if (Closing()) return false;
        const int n = SendSome(AsSocket(socket_), wire.data() + done, wire.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        const int e = LastError();
        if (n < 0 && e == kInterrupted) continue;
        if (n < 0 && e != kWouldBlock && e != EAGAIN) {
            LoseLocked(LostText(e));
            return false;
        }
        const std::int64_t left = until - NowMs();
        if (left <= 0 || !WaitLocked(true, static_cast<int>(left))) return false;
    }
    return true;
}

bool CNetworkPort::SendCommandLocked(std::uint8_t command, const std::vector<std::uint8_t>& value) {
    std::vector<std::uint8_t> wire{kIac, kSb, kComPort, command};
    for (const std::uint8_t b : value) {
        wire.push_back(b);
        if (b == kIac) wire.push_back(b);
    }
    wire.insert(wire.end(), {kIac, kSe});
    return SendLocked(wire, 1000);
}

template <class Done>
bool CNetworkPort::AwaitLocked(int ms, Done done) {
    const std::int64_t until = NowMs() + ms;
    for (;;) {
        if (PumpLocked() != Pump::Ok) return false;
        if (done()) return true;
        const std::int64_t left = until - NowMs();
        if (left <= 0 || !WaitLocked(false, static_cast<int>(left))) return false;
    }
}

bool CNetworkPort::NegotiateComPortLocked() {
    comPortAsked_ = weBinary_ = theyBinary_ = weSga_ = theySga_ = true;
    const std::vector<std::uint8_t> offer{kIac,    kWill, kComPort, kIac, kWill, kBinary, kIac, kDo,
                                          kBinary, kIac,  kWill,    kSga, kIac,  kDo,     kSga};
    const std::string server = "the server at " + address_.Endpoint();
    if (!SendLocked(offer, 1000)) return Fail(server + " closed the connection");
    if (!AwaitLocked(address_.connectMs, [this] { return comPortAccepted_.has_value(); })) {
        if (socket_ == kNoSocket)
            return Fail(server + " closed the connection during the RFC 2217 negotiation");
        return Fail(server + " did not take up RFC 2217 serial port control within " +
                    std::to_string(address_.connectMs) + " ms");
    }
    if (!*comPortAccepted_) return Fail(server + " refused RFC 2217 serial port control");
    return true;
}

bool CNetworkPort::SetLineLocked(int baud, int dataBits, int parity, int stopBits) {
    Line want;
    want.baud = static_cast<std::uint32_t>(baud);
    want.dataBits = std::clamp(dataBits, 5, 8);
    want.parity = parity == 1 ? 2 : parity == 2 ? 3 : 1;
    want.stopBits = stopBits == 1 ? 3 : stopBits == 2 ? 2 : 1;
    const std::string server = "the server at " + address_.Endpoint();
    confirmed_ = Line{};
    confirmedCount_ = 0;
    const std::uint32_t b = want.baud;
    const bool sent =
        SendCommandLocked(kSetBaud, {static_cast<std::uint8_t>(b >> 24), static_cast<std::uint8_t>(b >> 16),
                                     static_cast<std::uint8_t>(b >> 8), static_cast<std::uint8_t>(b)}) &&
        SendCommandLocked(kSetDataSize, {static_cast<std::uint8_t>(want.dataBits)}) &&
        SendCommandLocked(kSetParity, {static_cast<std::uint8_t>(want.parity)}) &&
        SendCommandLocked(kSetStopSize, {static_cast<std::uint8_t>(want.stopBits)}) &&
        SendCommandLocked(kSetControl, {kNoFlowControl});
    if (!sent) return Fail(server + " closed the connection");
    if (!AwaitLocked(address_.connectMs, [this] { return confirmedCount_ >= 4; })) {
        if (socket_ == kNoSocket) return Fail(server + " closed the connection while the line was set");
        return Fail(server + " did not confirm the line settings within " +
                    std::to_string(address_.connectMs) + " ms");
    }
    if (!(confirmed_ == want))
        return Fail(server + " set its line to " +
                    LineText(confirmed_.baud, confirmed_.dataBits, confirmed_.parity, confirmed_.stopBits) +
                    " instead of " + LineText(want.baud, want.dataBits, want.parity, want.stopBits));
    return true;
}

int CNetworkPort::Write(std::span<const std::uint8_t> data) {
    if (Closing()) return 0;
    const std::lock_guard lock(mutex_);
    if (socket_ == kNoSocket || Closing()) return 0;
    // An unread reply to an earlier request goes here, as the serial port's purge does.
    if (PumpLocked() != Pump::Ok) return 0;
    pending_.clear();
    // A Modbus request (its CRC holds) tells how its reply will announce its length.
    requestAddress_ = requestFunction_ = -1;
    if (data.size() >= 4) {
        const std::uint16_t crc = Crc16Modbus(data.first(data.size() - 2));
        if (data[data.size() - 2] == (crc & 0xFF) && data[data.size() - 1] == (crc >> 8)) {
            requestAddress_ = data[0];
            requestFunction_ = data[1];
        }
    }
    std::vector<std::uint8_t> wire;
    wire.reserve(data.size() + 8);
    for (const std::uint8_t b : data) {
        wire.push_back(b);
        if (b == kIac && address_.kind == PortAddress::Kind::Rfc2217) wire.push_back(b);
    }
    if (!SendLocked(wire, 1000 + charMs_ * static_cast<int>(data.size()))) return 0;
    return static_cast<int>(data.size());
}

std::optional<std::size_t> CNetworkPort::ExpectedReplyLength(std::span<const std::uint8_t> got) const {
    if (requestAddress_ < 0 || got.size() < 2 || got[0] != requestAddress_ ||
        (got[1] & 0x7F) != requestFunction_)
        return std::nullopt;
    if ((got[1] & 0x80) != 0) return 5;
    switch (requestFunction_) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x04:
            if (got.size() < 3) return std::nullopt;
            return 5u + got[2];
        case 0x05:
        case 0x06:
        case 0x0F:
        case 0x10:
            return 8;
        default:
            return std::nullopt;
    }
}

bool CNetworkPort::ReplyBegun(std::span<const std::uint8_t> got) const {
    if (requestAddress_ < 0 || got.empty() || got[0] != requestAddress_) return false;
    if (got.size() < 2) return true;
    if ((got[1] & 0x7F) != requestFunction_) return false;
    const auto expected = ExpectedReplyLength(got);
    if (expected) return got.size() < *expected;
    return got.size() < 3 && requestFunction_ >= 0x01 && requestFunction_ <= 0x04;  // its byte count is due
}

int CNetworkPort::Read(std::span<std::uint8_t> buf) {
    std::fill(buf.begin(), buf.end(), std::uint8_t{0});
    if (Closing()) return 0;
    const std::int64_t start = NowMs();  // the total bound counts from the call, lock wait included
    const std::lock_guard lock(mutex_);
    if (socket_ == kNoSocket || buf.empty() || Closing()) return 0;
    if (PumpLocked() != Pump::Ok || pending_.empty()) return 0;

    const std::int64_t gap = 3 * charMs_ + address_.gapMs;
    const std::int64_t end = start + charMs_ * static_cast<std::int64_t>(buf.size()) + address_.gapMs;
    std::int64_t lastByte = NowMs();
    std::size_t got = 0;
    for (;;) {
        std::size_t taken = 0;
        while (got < buf.size() && taken < pending_.size()) {
            const auto expected = ExpectedReplyLength(buf.first(got));
            if (expected && got >= *expected) break;
            buf[got++] = pending_[taken++];
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken));
        const auto expected = ExpectedReplyLength(buf.first(got));
        if (got == buf.size() || (expected && got >= *expected)) break;
        // A reply whose header announces more is waited for to the total bound: only raw
        // traffic (or an unexpected reply) ends on silence.
        const std::int64_t now = NowMs();
        const std::int64_t until = ReplyBegun(buf.first(got)) ? end : std::min(lastByte + gap, end);
        if (now >= until) break;  // the silence after a byte, or the whole bound, is over
        const std::size_t before = pending_.size();
        if (!WaitLocked(false, static_cast<int>(until - now)) || PumpLocked() != Pump::Ok) {
            // A reply cut short by Close or by the loss of the connection is no reply.
            std::fill(buf.begin(), buf.end(), std::uint8_t{0});
            return 0;
        }
        if (pending_.size() > before) lastByte = NowMs();
    }
    return static_cast<int>(got);
}
