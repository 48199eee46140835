#pragma once
// A serial device server as the network port meets it: a loopback TCP listener whose one
// accepted connection is driven from the peer's own thread by a script of steps (send these
// bytes, wait this long, read until these bytes came, close). Everything received is kept,
// so a test can check the exact bytes on the wire. The pauses are the peer's, never the
// test's: they stand for a network that delivers in segments.
//
//     TcpPeer peer({TcpPeer::Expect(request), TcpPeer::Send(part1), TcpPeer::Pause(30),
//     TcpPeer::Send(part2)}); port.Open(peer.Address("tcp"), 9600, 8, 0, 0);

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TcpPeer {
public:
    using Bytes = std::vector<std::uint8_t>;
    struct Step {
        enum class Kind { Send, Pause, Expect, Close } kind;
        Bytes bytes;
        int ms = 0;
    };
    static Step Send(Bytes b) { return {Step::Kind::Send, std::move(b), 0}; }
    static Step Pause(int ms) { return {Step::Kind::Pause, {}, ms}; }
    // Waits (at most 5 s) until the bytes received so far end with `b`.
    static Step Expect(Bytes b) { return {Step::Kind::Expect, std::move(b), 0}; }
    static Step Close() { return {Step::Kind::Close, {}, 0}; }

    explicit TcpPeer(std::vector<Step> script, int backlog = 1) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listen_, backlog) != 0)
            return;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (!script.empty()) thread_ = std::thread([this, s = std::move(script)] { Run(s); });
    }
    ~TcpPeer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (conn_ >= 0) ::close(conn_);
        if (listen_ >= 0) ::close(listen_);
    }
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    int Port() const { return port_; }
    std::string Address(const std::string& scheme, const std::string& query = {}) const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + query;
    }
    Bytes Received() const {
        const std::lock_guard lock(mutex_);
        return received_;
    }
    // True once the whole script ran (waits at most 5 s).
    bool Finished() const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done_ && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        return done_;
    }

private:
    // Takes in what came within `ms`.
    void Receive(int ms) {
        pollfd p{conn_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return;
        std::uint8_t buf[512];
        const ssize_t n = ::recv(conn_, buf, sizeof buf, 0);
        if (n <= 0) return;
        const std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buf, buf + n);
    }
    bool EndsWith(const Bytes& tail) const {
        const std::lock_guard lock(mutex_);
        return received_.size() >= tail.size() &&
               std::equal(tail.begin(), tail.end(),
                          received_.end() - static_cast<std::ptrdiff_t>(tail.size()));
    }
    void Run(const std::vector<Step>& script) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        conn_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        for (const Step& s : script) {
            if (stop_ || conn_ < 0) break;
            switch (s.kind) {
                case Step::Kind::Send:
                    (void)::send(conn_, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL);
                    break;
                case Step::Kind::Pause: {
                    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.ms);
                    while (!stop_ && std::chrono::steady_clock::now() < until) Receive(1);
                    break;
                }
                case Step::Kind::Expect: {
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                    while (!stop_ && !EndsWith(s.bytes) && std::chrono::steady_clock::now() < until)
                        Receive(5);
                    break;
                }
                case Step::Kind::Close:
                    ::close(conn_);
                    conn_ = -1;
                    break;
            }
        }
        done_ = true;
        while (!stop_ && conn_ >= 0) Receive(5);  // keeps what else comes, for Received()
    }

    int listen_ = -1;
    int conn_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    Bytes received_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};
