// The far end of the Windows serial port tests under Wine: serves pseudo-terminals (one path
// per line on stdout; Wine maps a COM port to each) and obeys commands written to them, so a
// test on the Windows side can ask for a reply in pieces, a pause or an endless stream.
//
//     serial_peer [COUNT]      COUNT pseudo-terminals (2), served until SIGTERM
//
// A command is A5 OP a b c:
//     'T'  send c pieces (0: until the next command) of a bytes, b ms apart; the bytes count
//          up from 0 (mod 256), so the reader can tell which ones it got
//     'E'  a*256+b bytes follow; answers their count and their sum, two bytes each, high first
//     'Y'  stop sending and answer 5A A5 5A A5, after which the line stays quiet
// Any command ends a stream in progress.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

std::atomic<bool> g_stop{false};

class Line {
public:
    bool Open() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return false;
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        // The slave stays open here, so the master never sees a hang-up between clients.
        path_ = name;
        return true;
    }
    const std::string& Path() const { return path_; }

    void Serve() {
        while (!g_stop) {
            const int wait = streaming_ ? std::max(0, MsUntil(next_)) : 50;
            pollfd p{master_, POLLIN, 0};
            const int ready = ::poll(&p, 1, wait);
            if (ready > 0 && (p.revents & POLLIN) != 0) {
                std::uint8_t b[4096];
                const ssize_t n = ::read(master_, b, sizeof b);
                if (n > 0) {
                    rx_.insert(rx_.end(), b, b + n);
                    Parse();
                }
            } else if (ready > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));  // no client: no busy loop
            }
            if (streaming_ && SteadyClock::now() >= next_) SendPiece();
        }
    }

private:
    static int MsUntil(SteadyClock::time_point t) {
        return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(t - SteadyClock::now()).count());
    }

    void Send(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size() && !g_stop) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void SendPiece() {
        std::vector<std::uint8_t> piece(size_);
        for (auto& b : piece) b = counter_++;
        Send(piece);
        ++sent_;
        if (pieces_ != 0 && sent_ >= pieces_) streaming_ = false;
        // A fixed schedule, so a late wake-up does not stretch the following pauses.
        next_ += std::chrono::milliseconds(everyMs_);
    }

    void Parse() {
        for (;;) {
            while (!rx_.empty() && rx_[0] != 0xA5) rx_.erase(rx_.begin());
            if (rx_.size() < 5) return;
            const std::uint8_t op = rx_[1];
            streaming_ = false;
            if (op == 'T') {
                size_ = rx_[2];
                everyMs_ = rx_[3];
                pieces_ = rx_[4];
                sent_ = 0;
                counter_ = 0;
                streaming_ = size_ > 0;
                next_ = SteadyClock::now();
                rx_.erase(rx_.begin(), rx_.begin() + 5);
            } else if (op == 'E') {
                const std::size_t length = std::size_t{rx_[2]} * 256 + rx_[3];
                if (rx_.size() < 5 + length) return;
                unsigned sum = 0;
                for (std::size_t i = 0; i < length; ++i) sum += rx_[5 + i];
                Send({static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length),
                      static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)});
                rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(5 + length));
            } else if (op == 'Y') {
                Send({0x5A, 0xA5, 0x5A, 0xA5});
                rx_.erase(rx_.begin(), rx_.begin() + 5);
            } else {
                rx_.erase(rx_.begin());
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::vector<std::uint8_t> rx_;
    bool streaming_ = false;
    std::size_t size_ = 0;
    int everyMs_ = 0;
    unsigned pieces_ = 0;
    unsigned sent_ = 0;
    std::uint8_t counter_ = 0;
    SteadyClock::time_point next_{};
};

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::vector<Line> lines(static_cast<std::size_t>(count > 0 ? count : 2));
    for (auto& l : lines) {
        if (!l.Open()) {
            std::perror("serial_peer: openpty");
            return 1;
        }
        std::printf("%s\n", l.Path().c_str());
    }
    std::fflush(stdout);
    std::vector<std::thread> threads;
    for (auto& l : lines) threads.emplace_back([&l] { l.Serve(); });
    std::thread([stop] {
        int sig = 0;
        sigwait(&stop, &sig);
        g_stop = true;
    }).detach();
    for (auto& t : threads) t.join();
    return 0;
}
