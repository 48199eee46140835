#include "update/TerminalProgress.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <iostream>

#include "update/UpdateShared.h"

namespace {
bool StderrIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}
}  // namespace

namespace {
constexpr int kBarWidth = 20;
}

// Only the process's own stderr can be a terminal; a test's string stream never is.
TerminalProgress::TerminalProgress(std::ostream& err)
    : err_(err), enabled_(&err == &std::cerr && StderrIsTerminal()) {}

void TerminalProgress::Show(const std::string& line) {
    if (!enabled_) return;
    err_ << '\r' << line;
    if (line.size() < shown_) err_ << std::string(shown_ - line.size(), ' ') << '\r' << line;
    err_ << std::flush;
    shown_ = line.size();
}

void TerminalProgress::Clear() {
    if (!enabled_ || shown_ == 0) return;
    err_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    shown_ = 0;
}

std::string ScanProgressLine(int queried, int total, int percent, int found) {
    return "scan " + std::to_string(queried) + "/" + std::to_string(total) + " " + std::to_string(percent) +
           "% found " + std::to_string(found);
}

std::string TransferProgressLine(int address, std::uint32_t progress, std::uint32_t imageSize) {
    const int filled = ProgressPercent(progress, imageSize) * kBarWidth / 100;
    std::string line = address > 0 ? std::to_string(address) + " [" : "[";
    line += std::string(static_cast<std::size_t>(filled), '#');
    line += std::string(static_cast<std::size_t>(kBarWidth - filled), ' ');
    return line + "] " + ProgressText(progress, imageSize);
}
