// kvt40ctl limits [--set FILE|-]: the alarm-limit grid after the first read, or column 2
// from a file written with the form's checks, then the read-back grid.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

#include "cli/CliCommand.h"
#include "cli/SettingsCli.h"
#include "settings/AlarmLimitSettings.h"

namespace {

constexpr std::size_t kValueLines = AlarmLimitSettings::kRows - 1;
// Far more than 32 values need; a device or a wrong file is not read on and on.
constexpr std::size_t kMaxFileBytes = 1 << 20;

// The text of `in`, at most kMaxFileBytes + 1 bytes; false when reading failed.
bool ReadAll(std::istream& in, std::string& data) {
    char buf[4096];
    while (data.size() <= kMaxFileBytes) {
        in.read(buf, sizeof buf);
        data.append(buf, static_cast<std::size_t>(in.gcount()));
        if (!in) return !in.bad();
    }
    return true;
}

// The lines of `data`, each without its LF or CR LF; a last line without one counts too.
std::vector<std::string> SplitLines(const std::string& data) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < data.size()) {
        std::size_t end = data.find('\n', from);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        from = end + 1;
    }
    return lines;
}

// A set value as a file holds it: digits with at most one decimal point, nothing else
// (no sign, blank, exponent, comma or full-width digit), so no line is taken as 0 unseen.
bool IsPlainDecimal(const std::string& line) {
    bool digit = false;
    bool point = false;
    for (const char c : line) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    return digit;
}

// A UTF-16 text (after its byte-order mark) as 8-bit text: ASCII stays, any other
// character becomes '?', which no number holds. False for an odd number of bytes.
bool FromUtf16(std::string_view data, bool bigEndian, std::string& text) {
    if (data.size() % 2 != 0) return false;
    for (std::size_t k = 0; k < data.size(); k += 2) {
        const auto hi = static_cast<unsigned char>(data[bigEndian ? k : k + 1]);
        const auto lo = static_cast<unsigned char>(data[bigEndian ? k + 1 : k]);
        text += hi == 0 && lo < 0x80 ? static_cast<char>(lo) : '?';
    }
    return true;
}

class LimitsCommand final : public CliCommand {
public:
    void Declare(CLI::App& sub) override {
        set_ = sub.add_option("--set", file_,
                              "write column 2 from FILE ('-': standard input): 32 lines, voltage upper, "
                              "voltage lower, outlets 1 to 30");
    }

    int Run(CliContext& ctx) override {
        if (set_->count() > 0) return RunSet(ctx);
        if (!ctx.OpenLink()) return ctx.Code();
        AlarmLimitSettings limits(ctx.Link(), ctx.GetClock());
        KeptMessages sink;
        if (!limits.Open(sink)) return ctx.Failed(sink.Last());
        ctx.out << limits.Cells().Tsv();
        return kExitOk;
    }

private:
    int RunSet(CliContext& ctx) {
        const bool stdinput = file_ == "-";
        const std::string name = stdinput ? std::string("standard input") : "'" + file_ + "'";
        std::string data;
        if (stdinput) {
            if (!ReadAll(std::cin, data)) return ctx.Usage("cannot read standard input");
        } else {
            std::error_code ec;
            if (std::filesystem::is_directory(file_, ec))
                return ctx.Usage("cannot read " + name + ": it is a directory");
            std::ifstream in(file_, std::ios::binary);
            if (!in) return ctx.Usage("cannot read " + name + ": " + std::strerror(errno));
            if (!ReadAll(in, data)) return ctx.Usage("cannot read " + name);
        }
        // A UTF-8 byte-order mark is skipped; UTF-16 (a Windows shell's redirect) is read as such.
        std::string text;
        const std::string_view all(data);
        if (all.starts_with("\xEF\xBB\xBF")) {
            text = data.substr(3);
        } else if (all.starts_with("\xFF\xFE") || all.starts_with("\xFE\xFF")) {
            if (!FromUtf16(all.substr(2), all[0] == '\xFE', text))
                return ctx.Usage(
                    name + " is cut short UTF-16 text: save it as UTF-8 or ANSI text, one number a line");
        } else {
            text = data;
        }
        const std::vector<std::string> lines = SplitLines(text);
        if (data.size() > kMaxFileBytes || lines.size() != kValueLines)
            return ctx.Usage(
                name + " must hold 32 lines (voltage upper, voltage lower, outlets 1 to 30), not " +
                (data.size() > kMaxFileBytes ? std::string("more") : std::to_string(lines.size())));
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (!IsPlainDecimal(lines[i]))
                return ctx.Usage("line " + std::to_string(i + 1) + " of " + name +
                                 " is not a plain decimal number (such as 230 or 10.5)");

        AlarmLimitSettings limits(ctx.Link(), ctx.GetClock());
        for (std::size_t i = 0; i < lines.size(); ++i) limits.SetTyped(static_cast<int>(i) + 1, lines[i]);
        // Refused before the port is opened: nothing reaches the bus.
        if (const auto fault = limits.Check()) return ctx.Failed(*fault);
        if (!ctx.OpenLink()) return ctx.Code();
        KeptMessages sink;
        if (limits.Set(sink) != WriteOutcome::Done) return ctx.Failed(sink.Last());
        ctx.out << limits.Cells().Tsv();
        // The grid shows what the module holds; a write it refused or dropped is no success.
        if (const auto& fault = limits.WriteFault()) return ctx.Failed("kvt40ctl: " + *fault);
        return kExitOk;
    }

    std::string file_;
    CLI::Option* set_ = nullptr;
};

}  // namespace

KVT40_CLI_COMMAND(LimitsCommand, "limits", "limits [--set FILE|-]",
                  "alarm limits: 33 lines of 3 cells; --set writes column 2 from 32 lines", 60)
