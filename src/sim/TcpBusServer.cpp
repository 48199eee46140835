#include "sim/TcpBusServer.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
// Long reply delays (a Late fault) are waited in slices so Stop stays prompt.
constexpr int kSliceMs = 20;
}  // namespace

TcpBusServer::TcpBusServer(VirtualBus& bus, int baud)
    : bus_(bus), baud_(baud), framer_([this](std::span<const std::uint8_t> stream, std::size_t& length) {
          return bus_.MatchRaw(stream, baud_, length);
      }) {}

TcpBusServer::~TcpBusServer() {
    Stop();
}

bool TcpBusServer::Start(const std::string& host, int port, std::string& error) {
    if (thread_.joinable()) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    for (addrinfo* ai = found; ai != nullptr && listen_ < 0; ai = ai->ai_next) {
        const int s =
            ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (s < 0) continue;
        const int on = 1;
        (void)setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(s, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(s, 4) == 0) {
            listen_ = s;
            break;
        }
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(s);
    }
    freeaddrinfo(found);
    if (listen_ < 0) return false;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    if (getsockname(listen_, reinterpret_cast<sockaddr*>(&bound), &len) == 0)
        port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        CloseFds();
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void TcpBusServer::Stop() {
    stop_ = true;
    if (wake_[1] >= 0) {
        const std::uint8_t b = 0;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &b, 1);
    }
    if (thread_.joinable()) thread_.join();
    CloseFds();
}

void TcpBusServer::CloseFds() {
    DropClient();
    for (int* fd : {&listen_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void TcpBusServer::DropClient() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
    framer_.Clear();
}

void TcpBusServer::Serve() {
    while (!stop_) {
        pollfd p[3] = {{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}, {client_, POLLIN, 0}};
        if (::poll(p, client_ >= 0 ? 3 : 2, -1) < 0 && errno != EINTR) break;
        if (stop_ || (p[0].revents & POLLIN) != 0) break;
        if ((p[1].revents & POLLIN) != 0) {
            const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (c >= 0) {
                DropClient();
                client_ = c;
                const int on = 1;  // a reply is one small write: send it at once
                (void)setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                continue;  // p[2] was about the client before
            }
        }
        if (client_ < 0 || (p[2].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        std::uint8_t chunk[4096];
        const ssize_t n = ::recv(client_, chunk, sizeof chunk, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            DropClient();
            continue;
        }
        if (n < 0) continue;
        framer_.Append(std::span<const std::uint8_t>(chunk, static_cast<std::size_t>(n)));
        while (!stop_ && client_ >= 0) {
            auto unit = framer_.Next();
            if (!unit) break;
            Reply(unit->bytes);
        }
    }
}

void TcpBusServer::Wait(int ms) {
    for (int left = ms; left > 0 && !stop_; left -= kSliceMs) bus_.BusClock().sleep(std::min(left, kSliceMs));
}

void TcpBusServer::Reply(const std::vector<std::uint8_t>& request) {
    const auto reply = bus_.Process(request, baud_);
    if (!reply) return;
    const std::span<const std::uint8_t> bytes(reply->bytes);
    const std::size_t pauseAt = reply->pauseMs > 0 ? std::min(reply->pauseAt, bytes.size()) : 0;
    Wait(reply->delayMs);
    if (stop_ || !SendAll(bytes.first(pauseAt))) return;
    Wait(reply->pauseMs);
    if (!stop_) (void)SendAll(bytes.subspan(pauseAt));
}

bool TcpBusServer::SendAll(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && !stop_ && client_ >= 0) {
        const ssize_t n = ::send(client_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        pollfd p[2] = {{client_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
        // A client that reads nothing for a second is given up.
        if ((n < 0 && errno != EAGAIN) || ::poll(p, 2, 1000) <= 0 || (p[1].revents & POLLIN) != 0) {
            DropClient();
            return false;
        }
    }
    return done == bytes.size();
}
