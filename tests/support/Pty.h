#pragma once
// A pseudo-terminal pair for port tests: the test holds the master end and hands the
// slave's path to the code under test, as if it were a serial adapter.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

class Pty {
public:
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            termios tio{};
            tcgetattr(slave, &tio);
            cfmakeraw(&tio);
            tcsetattr(slave, TCSANOW, &tio);
            ::close(slave);  // the code under test opens it again by name
            path_ = name;
            fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty() {
        if (master_ >= 0) ::close(master_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // The other end goes away, as when a relay or a module's server dies: the slave hangs up.
    void Close() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    bool ok() const { return master_ >= 0; }
    const std::string& path() const { return path_; }
    int master() const { return master_; }

    void Send(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                WaitFor(POLLOUT, 100);
        }
    }

    // Collects what the other end wrote until `count` bytes arrived or the bound ran out.
    std::vector<std::uint8_t> Receive(std::size_t count, int boundMs = 2000) const {
        std::vector<std::uint8_t> out;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (out.size() < count && std::chrono::steady_clock::now() < until) {
            std::uint8_t b[512];
            const ssize_t n = ::read(master_, b, sizeof b);
            if (n > 0)
                out.insert(out.end(), b, b + n);
            else
                WaitFor(POLLIN, 20);
        }
        return out;
    }

private:
    void WaitFor(short events, int ms) const {
        pollfd p{master_, events, 0};
        ::poll(&p, 1, ms);
    }

    int master_ = -1;
    std::string path_;
};
