#pragma once
// Another program on the same machine: runs `body` in a forked child, which reports one byte
// back and then holds what it opened until it is killed. Fork only while the test has no
// other threads. The destructor kills and reaps a child still running.
//
//     ForkedChild child([&](ForkedChild::Side& side) {
//         CSerialPort port;
//         side.ReportAndHold(port.Open(path, 9600, 8, 0, 0) ? 1 : 0);
//     });
//     EXPECT_EQ(child.Report(), 1);
//     EXPECT_TRUE(child.Kill());

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>

class ForkedChild {
public:
    class Side {
    public:
        explicit Side(int fd) : fd_(fd) {}
        [[noreturn]] void ReportAndHold(std::uint8_t report) const {
            [[maybe_unused]] const ssize_t n = ::write(fd_, &report, 1);
            for (;;) ::pause();
        }

    private:
        int fd_;
    };

    explicit ForkedChild(const std::function<void(Side&)>& body) {
        int p[2];
        if (::pipe(p) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(p[0]);
            Side side(p[1]);
            body(side);
            ::_exit(0);  // no destructors, no test framework: this is not the test's process
        }
        ::close(p[1]);
        report_ = p[0];
    }
    ~ForkedChild() {
        Kill();
        if (report_ >= 0) ::close(report_);
    }
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    bool ok() const { return pid_ > 0; }

    // The byte the child reported, or -1 when it sent none within the bound.
    int Report(std::chrono::milliseconds bound = std::chrono::seconds(5)) const {
        pollfd p{report_, POLLIN, 0};
        std::uint8_t b = 0;
        if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0 || ::read(report_, &b, 1) != 1) return -1;
        return b;
    }

    // SIGKILL, so nothing of the child's own runs on the way out; true once it is reaped.
    bool Kill() {
        if (pid_ <= 0) return false;
        ::kill(pid_, SIGKILL);
        int status = 0;
        const bool reaped = ::waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return reaped;
    }

private:
    pid_t pid_ = -1;
    int report_ = -1;
};
