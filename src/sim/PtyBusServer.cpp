#include "sim/PtyBusServer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "link/ModbusRtu.h"

namespace {

// The longest RTU frame; a buffer that grows past this without a frame is garbage.
constexpr std::size_t kMaxFrame = 256;
constexpr std::size_t kMaxBuffer = 4 * kMaxFrame;
// Long reply delays (a Late fault) are waited in slices so Stop stays prompt.
constexpr int kSliceMs = 20;

bool CrcOk(const std::vector<std::uint8_t>& buf, std::size_t pos, std::size_t length) {
    const std::span<const std::uint8_t> f(buf.data() + pos, length);
    const std::uint16_t crc = Crc16Modbus(f.first(length - 2));
    return f[length - 2] == (crc & 0xFF) && f[length - 1] == (crc >> 8);
}

bool FixedLength(std::uint8_t fc) { return (fc >= 0x01 && fc <= 0x06) || fc == 0x0F || fc == 0x10; }

void SetFlags(int fd, int flags) { (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | flags); }
void SetCloexec(int fd) { (void)fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }

int BaudOf(speed_t s) {
    switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

}  // namespace

PtyBusServer::PtyBusServer(VirtualBus& bus) : bus_(bus) {}

PtyBusServer::~PtyBusServer() { Stop(); }

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
    rx_.clear();
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

std::string PtyBusServer::SlavePath() const { return running_ ? path_ : std::string(); }

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

PtyBusServer::Framing PtyBusServer::FrameAt(const std::vector<std::uint8_t>& buf, std::size_t pos,
                                            std::size_t& length) {
    const std::size_t avail = buf.size() - pos;
    if (avail < 2) return Framing::NeedMore;
    const std::uint8_t fc = buf[pos + 1];
    std::size_t want = 0;
    if (fc >= 0x01 && fc <= 0x06) {
        want = 8;
    } else if (fc == 0x0F || fc == 0x10) {
        if (avail < 7) return Framing::NeedMore;
        want = 9 + std::size_t{buf[pos + 6]};
    }
    if (want != 0) {
        if (avail < want) return Framing::NeedMore;
        length = want;
        return CrcOk(buf, pos, want) ? Framing::Complete : Framing::Bad;
    }
    // A function the module does not know: its length is not implied, so any length whose
    // CRC holds is taken (the module answers it with an illegal-function exception).
    for (std::size_t n = 4; n <= std::min(avail, kMaxFrame); ++n)
        if (CrcOk(buf, pos, n)) {
            length = n;
            return Framing::Complete;
        }
    return avail >= kMaxFrame ? Framing::Bad : Framing::NeedMore;
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
            if (p[0].revents != 0) bus_.TheBusClock().sleep(kSliceMs);
            continue;
        }
        std::uint8_t chunk[512];
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0) continue;
        rx_.insert(rx_.end(), chunk, chunk + n);
        HandleBuffer();
    }
}

void PtyBusServer::HandleBuffer() {
    while (!rx_.empty() && !stop_) {
        std::size_t length = 0;
        const Framing f = FrameAt(rx_, 0, length);
        if (f == Framing::Complete) {
            const std::vector<std::uint8_t> frame(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(length));
            rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(length));
            ++framesServed_;
            Reply(frame);
            continue;
        }
        bool drop = f == Framing::Bad || rx_.size() > kMaxBuffer;
        if (!drop) {
            // Still incomplete at the front, but a whole good frame follows: the front was noise.
            // Only frames of known length are looked for, which keeps the scan linear.
            for (std::size_t pos = 1; pos + 4 <= rx_.size() && !drop; ++pos) {
                std::size_t later = 0;
                drop = FixedLength(rx_[pos + 1]) && FrameAt(rx_, pos, later) == Framing::Complete;
            }
        }
        if (!drop) return;
        rx_.erase(rx_.begin());
        ++bytesDropped_;
    }
}

void PtyBusServer::Reply(const std::vector<std::uint8_t>& frame) {
    auto reply = bus_.Process(frame, LineBaud());
    if (!reply) return;
    Clock& clock = bus_.TheBusClock();
    for (int left = reply->delayMs; left > 0 && !stop_; left -= kSliceMs) clock.sleep(std::min(left, kSliceMs));
    if (!stop_) (void)WriteAll(reply->bytes);
}

bool PtyBusServer::WriteAll(const std::vector<std::uint8_t>& bytes) {
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
