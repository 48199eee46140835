#pragma once
// kvt40ctl's progress lines for the scan and the update: drawn on stderr only when that is
// a terminal, each redrawn in place with "\r" and wiped before a result line is printed,
// so scripts reading stdout (and logs of stderr) never see them.
//
//     TerminalProgress bar(ctx.err);            // silent unless ctx.err is a terminal's stderr
//     bar.Show(ScanProgressLine(57, 247, 2));   // "scan 57/247 23% found 2"
//     bar.Clear();
//     ctx.out << "5\t升级成功,校表正确!\n";

#include <cstdint>
#include <ostream>
#include <string>

class TerminalProgress {
public:
    explicit TerminalProgress(std::ostream& err);
    bool Enabled() const { return enabled_; }
    void Show(const std::string& line);
    void Clear();

private:
    std::ostream& err_;
    bool enabled_;
    std::size_t shown_ = 0;  // columns of the line on screen
};

// "scan 57/247 23% found 2" (queried of the range, the scan's percentage).
std::string ScanProgressLine(int queried, int total, int percent, int found);
// "5 [#######             ] 21k / 60k" for the module at `address` (0: no address).
std::string TransferProgressLine(int address, std::uint32_t progress, std::uint32_t imageSize);
