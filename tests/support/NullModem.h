#pragma once
// Two pseudo-terminals joined by a relay thread: a virtual null-modem cable, so two
// programs that each open a device by name (a libmodbus slave and CSerialPort) can talk.

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/Pty.h"

class NullModem {
public:
    NullModem() {
        if (a_.ok() && b_.ok()) relay_ = std::thread([this] { Relay(); });
    }
    ~NullModem() {
        stop_ = true;
        if (relay_.joinable()) relay_.join();
    }
    NullModem(const NullModem&) = delete;
    NullModem& operator=(const NullModem&) = delete;

    bool ok() const { return a_.ok() && b_.ok(); }
    const std::string& pathA() const { return a_.path(); }
    const std::string& pathB() const { return b_.path(); }

private:
    void Relay() {
        while (!stop_) {
            pollfd p[2] = {{a_.master(), POLLIN, 0}, {b_.master(), POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) continue;
            Copy(p[0], a_.master(), b_);
            Copy(p[1], b_.master(), a_);
        }
    }
    static void Copy(const pollfd& p, int from, const Pty& to) {
        if ((p.revents & POLLIN) == 0) return;
        std::uint8_t buf[512];
        const ssize_t n = ::read(from, buf, sizeof buf);
        if (n > 0) to.Send(std::vector<std::uint8_t>(buf, buf + n));
    }

    Pty a_;
    Pty b_;
    std::atomic<bool> stop_{false};
    std::thread relay_;
};
