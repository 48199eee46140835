#include "sim/TcpBusRelay.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

speed_t SpeedOf(int baud) {
    switch (baud) {
        case 4800:
            return B4800;
        case 19200:
            return B19200;
        default:
            return B9600;
    }
}

// Writes all of `n` bytes to a non-blocking descriptor, waiting a bounded time for room.
bool WriteAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        const ssize_t done = w >= 0 || errno != ENOTSOCK ? w : ::write(fd, p, n);
        if (done > 0) {
            p += done;
            n -= static_cast<std::size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && errno != EAGAIN) return false;
        pollfd q{fd, POLLOUT, 0};
        if (::poll(&q, 1, 1000) <= 0) return false;
    }
    return true;
}

}  // namespace

TcpBusRelay::TcpBusRelay(std::string slavePath, int baud) : slavePath_(std::move(slavePath)), baud_(baud) {}

TcpBusRelay::~TcpBusRelay() {
    Stop();
}

bool TcpBusRelay::Start(const std::string& host, int port, std::string& error) {
    if (thread_.joinable()) return false;
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetspeed(&tio, SpeedOf(baud_));
        (void)tcsetattr(slave_, TCSANOW, &tio);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        Stop();
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
    if (listen_ < 0) {
        Stop();
        return false;
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    if (getsockname(listen_, reinterpret_cast<sockaddr*>(&bound), &len) == 0)
        port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        Stop();
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void TcpBusRelay::Stop() {
    stop_ = true;
    if (wake_[1] >= 0) {
        const std::uint8_t b = 0;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &b, 1);
    }
    if (thread_.joinable()) thread_.join();
    DropClient();
    for (int* fd : {&listen_, &slave_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void TcpBusRelay::DropClient() {
    if (client_ >= 0) ::close(client_);
    client_ = -1;
}

void TcpBusRelay::Serve() {
    std::uint8_t buf[4096];
    while (!stop_) {
        pollfd p[4] = {
            {wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}, {slave_, POLLIN, 0}, {client_, POLLIN, 0}};
        if (::poll(p, client_ >= 0 ? 4 : 3, -1) < 0 && errno != EINTR) break;
        if (stop_) break;
        if ((p[1].revents & POLLIN) != 0) {
            const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (c >= 0) {
                DropClient();
                client_ = c;
                const int on = 1;
                (void)setsockopt(client_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            }
        }
        if ((p[2].revents & POLLIN) != 0) {
            // What the bus says while nobody listens is lost, as on a wire with no master.
            const ssize_t n = ::read(slave_, buf, sizeof buf);
            if (n > 0 && client_ >= 0 && !WriteAll(client_, buf, static_cast<std::size_t>(n))) DropClient();
        }
        if (client_ >= 0 && (p[3].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && p[3].fd == client_) {
            const ssize_t n = ::recv(client_, buf, sizeof buf, 0);
            if (n > 0)
                (void)WriteAll(slave_, buf, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                DropClient();
        }
    }
}
