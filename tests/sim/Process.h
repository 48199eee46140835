#pragma once
// Child programs for the end-to-end tests: kvt40-sim kept running with its stdout on a pipe,
// and one-shot runs of kvt40ctl whose output is collected. Every wait is bounded.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace e2e {

// Starts argv[0] with stdout (and stderr too when asked) on a pipe whose read end is outFd.
inline pid_t Spawn(const std::vector<std::string>& argv, int& outFd, bool withStderr = false) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        if (withStderr) dup2(fds[1], STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    ::close(fds[1]);
    outFd = fds[0];
    return pid;
}

// Reads until `stop` says so, end of file or the bound; returns what came.
template <typename Stop>
std::string ReadUntil(int fd, int boundMs, Stop stop, bool* eof = nullptr) {
    std::string out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (!stop(out)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            if (eof != nullptr) *eof = true;
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// Waits for a child whose stdout is `fd`: end of file first (bounded), then its status.
// Returns the exit code, or -1 when it had to be killed or died of a signal.
inline int Reap(pid_t pid, int fd, int boundMs, std::string* rest = nullptr) {
    bool eof = false;
    std::string out = ReadUntil(
        fd, boundMs, [](const std::string&) { return false; }, &eof);
    if (rest != nullptr) *rest += out;
    ::close(fd);
    int status = 0;
    if (!eof) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct RunResult {
    int code = -1;
    std::string out;
};

inline RunResult Run(const std::vector<std::string>& argv, bool withStderr = false, int boundMs = 10000) {
    int fd = -1;
    const pid_t pid = Spawn(argv, fd, withStderr);
    if (pid < 0) return {};
    RunResult r;
    r.code = Reap(pid, fd, boundMs, &r.out);
    return r;
}

// kvt40-sim for the length of a test: started with `args`, stopped with SIGTERM (or the
// signal given).
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), KVT40_SIM_EXE);
        pid_ = Spawn(args, out_);
        if (pid_ < 0) return;
        const std::string line =
            ReadUntil(out_, 5000, [](const std::string& s) { return s.find('\n') != std::string::npos; });
        if (const auto nl = line.find('\n'); nl != std::string::npos) path_ = line.substr(0, nl);
    }
    ~SimProcess() {
        if (pid_ > 0) (void)Terminate();
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& Path() const { return path_; }
    // The signal and the exit code (-1 if it did not end by itself within the bound).
    int Terminate(int sig = SIGTERM) {
        kill(pid_, sig);
        const int code = Reap(pid_, out_, 5000);
        pid_ = -1;
        return code;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};

}  // namespace e2e
