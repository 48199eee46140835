#include "sim/PtyBusServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Long reply delays (a Late fault) are waited in slices so Stop stays prompt.
constexpr int kSliceMs = 20;

void SetFlags(int fd, int flags) {
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | flags);
}
void SetCloexec(int fd) {
    (void)fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

int BaudOf(speed_t s) {
    switch (s) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

}  // namespace

PtyBusServer::PtyBusServer(VirtualBus& bus)
    : bus_(bus), framer_([this](std::span<const std::uint8_t> stream, std::size_t& length) {
          return bus_.MatchRaw(stream, lineBaud_, length);
      }) {}

PtyBusServer::~PtyBusServer() {
    Stop();
}

bool PtyBusServer::Start() {
    if (running_) return false;
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return false;
    }
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        wake_[0] = wake_[1] = -1;
        CloseFds();
        return false;
    }
    SetCloexec(master_);
    SetCloexec(slave_);
    SetFlags(master_, O_NONBLOCK);
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= static_cast<tcflag_t>(CLOCAL | CREAD);
        cfsetspeed(&tio, B9600);
        (void)tcsetattr(slave_, TCSANOW, &tio);
    }
    path_ = name;
    framer_.Clear();
    bytesHeld_ = 0;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

std::string PtyBusServer::SlavePath() const {
    return running_ ? path_ : std::string();
}

void PtyBusServer::Stop() {
    if (!thread_.joinable()) {
        CloseFds();
        return;
    }
    stop_ = true;
    const std::uint8_t b = 1;
    (void)!::write(wake_[1], &b, 1);
    thread_.join();
    running_ = false;
    CloseFds();
}

void PtyBusServer::CloseFds() {
    for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    path_.clear();
}

int PtyBusServer::LineBaud() const {
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) return 0;
    return BaudOf(cfgetospeed(&tio));
}

void PtyBusServer::Serve() {
    while (!stop_) {
        pollfd p[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int r = ::poll(p, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if ((p[1].revents & POLLIN) != 0) break;
        if ((p[0].revents & POLLIN) == 0) {
            // An error on the master without data: do not spin on it.
            if (p[0].revents != 0) bus_.BusClock().sleep(kSliceMs);
            continue;
        }
        std::uint8_t chunk[4096];
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0) continue;
        framer_.Append(std::span<const std::uint8_t>(chunk, static_cast<std::size_t>(n)));
        HandleBuffer();
    }
}

void PtyBusServer::HandleBuffer() {
    lineBaud_ = LineBaud();
    while (!stop_) {
        auto unit = framer_.Next();
        bytesDropped_ = framer_.Dropped();
        if (!unit) break;
        Reply(unit->bytes);
        ++(unit->raw ? rawServed_ : framesServed_);
    }
    bytesHeld_ = framer_.Held();
}

void PtyBusServer::Wait(int ms) {
    for (int left = ms; left > 0 && !stop_; left -= kSliceMs) bus_.BusClock().sleep(std::min(left, kSliceMs));
}

void PtyBusServer::Reply(const std::vector<std::uint8_t>& request) {
    const auto reply = bus_.Process(request, lineBaud_);
    if (!reply) return;
    const std::span<const std::uint8_t> bytes(reply->bytes);
    const std::size_t pauseAt = reply->pauseMs > 0 ? std::min(reply->pauseAt, bytes.size()) : 0;
    Wait(reply->delayMs);
    if (stop_ || !WriteAll(bytes.first(pauseAt))) return;
    Wait(reply->pauseMs);
    if (!stop_) (void)WriteAll(bytes.subspan(pauseAt));
}

bool PtyBusServer::WriteAll(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    int stalls = 0;
    while (done < bytes.size() && !stop_) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // Nobody drains the slave: give up after a bound rather than block Stop.
        pollfd p[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
        if (++stalls > 50 || ::poll(p, 2, 20) < 0 || (p[1].revents & POLLIN) != 0) return false;
    }
    return done == bytes.size();
}
