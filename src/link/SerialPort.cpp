#include "link/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

namespace {

using SteadyClock = std::chrono::steady_clock;

speed_t SpeedOf(int baud, bool& known) {
    known = true;
    switch (baud) {
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            known = false;
            return B9600;
    }
}

tcflag_t Clear(tcflag_t flags, tcflag_t bits) {
    return flags & static_cast<tcflag_t>(~bits);
}

// Line settings the driver rejects are not detected here: the first exchange fails instead.
void Configure(int fd, int baud, int dataBits, int parity, int stopBits) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag |= static_cast<tcflag_t>(CLOCAL | CREAD);
    tio.c_cflag = Clear(tio.c_cflag, static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS));
    // Four data bits do not exist on this back end; five is the nearest the driver offers.
    switch (std::clamp(dataBits, 5, 8)) {
        case 5:
            tio.c_cflag |= static_cast<tcflag_t>(CS5);
            break;
        case 6:
            tio.c_cflag |= static_cast<tcflag_t>(CS6);
            break;
        case 7:
            tio.c_cflag |= static_cast<tcflag_t>(CS7);
            break;
        default:
            tio.c_cflag |= static_cast<tcflag_t>(CS8);
            break;
    }
    if (parity == 1) tio.c_cflag |= static_cast<tcflag_t>(PARENB | PARODD);
    if (parity == 2) tio.c_cflag |= static_cast<tcflag_t>(PARENB);
    // One and a half stop bits are sent as two, as the usual drivers do.
    if (stopBits == 1 || stopBits == 2) tio.c_cflag |= static_cast<tcflag_t>(CSTOPB);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    bool known = false;
    const speed_t speed = SpeedOf(baud, known);
    if (known) cfsetspeed(&tio, speed);
    (void)tcsetattr(fd, TCSANOW, &tio);

    // DTR raised, RTS low; a pseudo-terminal has no modem lines and says ENOTTY.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &dtr);
    (void)ioctl(fd, TIOCMBIC, &rts);
}

// Unix98 pseudo-terminal slaves (/dev/pts/N) use majors 136..143.
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const auto m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

using OpenError = CSerialPort::OpenError;

OpenError ErrorOfOpen(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR:
        case ENODEV:
        case ENXIO:
            return OpenError::NoSuchFile;
        case EISDIR:
            return OpenError::NotSerial;
        case EBUSY:
            return OpenError::InUse;  // another program's TIOCEXCL
        case EACCES:
        case EPERM:
            return OpenError::PermissionDenied;
        default:
            return OpenError::Other;
    }
}

// TIOCEXCL keeps other users out but not root; the lock keeps out every program that asks.
// A pty gets the lock alone: its server holds the slave open, so the tty is never last-closed
// and an exclusive flag left by a client that was killed would lock everyone else out.
// On failure returns -1 with the reason in `error` (and errno in `sysError` for Other).
int OpenExclusive(const std::string& name, bool& exclusiveFlag, OpenError& error, int& sysError) {
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        sysError = errno;
        error = ErrorOfOpen(sysError);
        return -1;
    }
    error = OpenError::None;
    exclusiveFlag = !IsPseudoTerminal(fd);
    if (!isatty(fd)) {
        error = OpenError::NotSerial;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        sysError = errno;
        error = sysError == EWOULDBLOCK ? OpenError::InUse : OpenError::Other;
    } else if (exclusiveFlag && ioctl(fd, TIOCEXCL) != 0) {
        sysError = errno;
        error = OpenError::Other;
    }
    if (error == OpenError::None) return fd;
    ::close(fd);
    return -1;
}

// The errors of a device that is gone: a pulled adapter, a pseudo-terminal whose other end closed.
bool Vanished(int e) {
    return e == EIO || e == ENXIO || e == ENODEV;
}

std::string SystemWords(int e) {
    return std::generic_category().message(e);
}

// Rounded up: a wait that wakes a fraction of a millisecond early would end a reply too soon.
int WaitMs(SteadyClock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - SteadyClock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

}  // namespace

CSerialPort::CSerialPort() {
    // Without the pipe Close is still safe, only no longer prompt: it waits for the call to end.
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

CSerialPort::~CSerialPort() {
    Close();
    for (const int fd : wake_) {
        if (fd >= 0) ::close(fd);
    }
}

bool CSerialPort::Open(const std::string& name, int baud, int dataBits, int parity, int stopBits) {
    const std::lock_guard lock(mutex_);
    if (name.empty()) return Fail(OpenError::NoSuchFile, ENOENT);
    if (baud <= 0) return Fail(OpenError::Other, EINVAL);  // the character time divides by it
    if (fd_ < 0 || name != name_) {
        bool exclusiveFlag = false;
        OpenError error = OpenError::None;
        int sysError = 0;
        const int fd = OpenExclusive(name, exclusiveFlag, error, sysError);
        if (fd < 0) return Fail(error, sysError);  // the old port, if any, stays open
        CloseLocked();
        fd_ = fd;
        exclusiveFlag_ = exclusiveFlag;
        name_ = name;
        // What the device was set to before us, given back when it closes (a terminal
        // opened by mistake must not stay raw).
        savedValid_ = tcgetattr(fd_, &saved_) == 0;
        open_ = true;
    }
    {
        const std::lock_guard lost(lostMutex_);
        lostReason_.clear();
    }
    Configure(fd_, baud, dataBits, parity, stopBits);
    charMs_ = 10000 / baud + 1;
    (void)tcflush(fd_, TCIOFLUSH);
    openError_ = OpenError::None;
    openErrno_ = 0;
    return true;
}

bool CSerialPort::Fail(OpenError error, int sysError) {
    openError_ = error;
    openErrno_ = sysError;
    return false;
}

CSerialPort::OpenError CSerialPort::LastOpenError() const {
    const std::lock_guard lock(mutex_);
    return openError_;
}

std::string CSerialPort::OpenFailureText() const {
    const std::lock_guard lock(mutex_);
    if (const char* fixed = ReasonText(openError_)) return fixed;
    // generic_category words it as strerror does, without strerror's shared buffer.
    return std::generic_category().message(openErrno_);
}

void CSerialPort::Close() {
    // Announce first, so a Read or Write waiting inside the lock gives up instead of keeping
    // this thread (often the user interface) blocked until its transfer ends.
    ++closers_;
    if (wake_[1] >= 0) {
        const std::uint8_t b = 0;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &b, 1);
    }
    {
        const std::lock_guard lock(mutex_);
        CloseLocked();
        // Drained under the lock: no waiter can be inside to miss the wake-up.
        std::uint8_t drain[16];
        while (wake_[0] >= 0 && ::read(wake_[0], drain, sizeof drain) > 0) {
        }
    }
    --closers_;
}

void CSerialPort::CloseLocked() {
    if (fd_ >= 0) {
        (void)tcflush(fd_, TCIOFLUSH);
        if (savedValid_) (void)tcsetattr(fd_, TCSANOW, &saved_);
        // Only a flag of our own is cleared; one set by another program is not ours to drop.
        if (exclusiveFlag_) (void)ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    fd_ = -1;
    savedValid_ = false;
    exclusiveFlag_ = false;
    name_.clear();
    open_ = false;
}

bool CSerialPort::IsOpen() const {
    return open_;
}

std::string CSerialPort::LostReason() const {
    const std::lock_guard lost(lostMutex_);
    return lostReason_;
}

void CSerialPort::LoseLocked(const std::string& reason) {
    {
        const std::lock_guard lost(lostMutex_);
        lostReason_ = reason;
    }
    CloseLocked();
}

std::string CSerialPort::HangUpReasonLocked() const {
    // A hung-up tty answers its ioctls with the error; a byte a read took here would be lost
    // with the port anyway.
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) return SystemWords(errno);
    std::uint8_t b = 0;
    if (::read(fd_, &b, 1) < 0 && errno != EAGAIN) return SystemWords(errno);
    return "the device hung up";
}

CSerialPort::Wait CSerialPort::WaitLocked(short events, int ms) const {
    pollfd p[2] = {{fd_, events, 0}, {wake_[0], POLLIN, 0}};  // poll skips a wake end of -1
    const int ready = ::poll(p, 2, ms);
    if (Closing()) return Wait::Closing;
    if (ready < 0) return errno == EINTR ? Wait::Again : Wait::Failed;
    if (ready == 0) return Wait::TimedOut;
    // A hang-up polls ready at once and never clears: the device is gone, waiting on would spin.
    if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Wait::HungUp;
    if ((p[0].revents & events) != 0) return Wait::Ready;
    return Wait::Again;
}

int CSerialPort::Write(std::span<const std::uint8_t> data) {
    if (Closing()) return 0;  // leave the lock to the Close that waits for it
    const std::lock_guard lock(mutex_);
    if (fd_ < 0 || Closing()) return 0;
    (void)tcflush(fd_, TCIOFLUSH);  // an unread reply to an earlier request goes here
    std::size_t done = 0;
    // No write time-out on the line itself; this bound only guards against a dead driver.
    const auto until =
        SteadyClock::now() + std::chrono::milliseconds(1000 + charMs_ * static_cast<int>(data.size()));
    while (done < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && Vanished(errno)) {
            LoseLocked(SystemWords(errno));
            return 0;
        }
        if (n < 0 && errno != EAGAIN) return 0;
        const int wait = WaitMs(until);
        if (wait == 0) return 0;
        const Wait w = WaitLocked(POLLOUT, wait);
        if (w == Wait::HungUp) {
            LoseLocked(HangUpReasonLocked());
            return 0;
        }
        if (w == Wait::Closing || w == Wait::Failed) return 0;
    }
    return static_cast<int>(done);
}

int CSerialPort::Read(std::span<std::uint8_t> buf) {
    std::fill(buf.begin(), buf.end(), std::uint8_t{0});
    if (Closing()) return 0;
    const auto start = SteadyClock::now();  // the total bound counts from the call, lock wait included
    const std::lock_guard lock(mutex_);
    if (fd_ < 0 || buf.empty() || Closing()) return 0;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) {
        if (Vanished(errno)) LoseLocked(SystemWords(errno));
        return 0;
    }
    if (waiting <= 0) {
        // Never waits for a first byte; but a device that is gone says so at once, here.
        pollfd p{fd_, 0, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            LoseLocked(HangUpReasonLocked());
        return 0;
    }

    const auto gap = std::chrono::milliseconds(3 * charMs_);
    const auto total = start + std::chrono::milliseconds(charMs_ * static_cast<long long>(buf.size()));
    auto lastByte = SteadyClock::now();
    std::size_t got = 0;
    while (got < buf.size()) {
        // With VMIN = VTIME = 0 an empty queue reads as 0, not EAGAIN: both mean "wait for more".
        const ssize_t n = ::read(fd_, buf.data() + got, buf.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            lastByte = SteadyClock::now();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && Vanished(errno)) {
            LoseLocked(SystemWords(errno));
            break;
        }
        if (n < 0 && errno != EAGAIN) break;
        const auto until = std::min(lastByte + gap, total);
        if (SteadyClock::now() >= until) break;  // the silence after a byte, or the whole bound, is over
        const Wait w = WaitLocked(POLLIN, WaitMs(until));
        if (w == Wait::HungUp) LoseLocked(HangUpReasonLocked());
        if (w == Wait::Closing || fd_ < 0) {
            // A reply cut short by Close or by the loss of the device is no reply: the caller
            // sees a closed port.
            std::fill(buf.begin(), buf.end(), std::uint8_t{0});
            return 0;
        }
        if (w == Wait::Failed) break;
    }
    if (fd_ < 0) {
        std::fill(buf.begin(), buf.end(), std::uint8_t{0});
        return 0;
    }
    return static_cast<int>(got);
}

std::string CSerialPort::Name() const {
    const std::lock_guard lock(mutex_);
    return name_;
}

int CSerialPort::CharTimeMs() const {
    const std::lock_guard lock(mutex_);
    return charMs_;
}
