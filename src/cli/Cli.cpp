#include "cli/Cli.h"

#include <array>
#include <charconv>
#include <ostream>

#include "link/LinkState.h"
#include "monitor/MeasuresCycle.h"

namespace {

bool ParseInt(const std::string& text, long long lo, long long hi, int& out) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || text.empty() || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// Answers Cancel to every Retry/Cancel question and keeps the last text for stderr.
class CancelSink final : public MessageSink {
public:
    MsgResult Show(const std::string& text, const std::string&, MsgIcon, MsgButtons) override {
        last = text;
        return MsgResult::Cancel;
    }
    std::string last;
};

struct Command {
    const char* name;
    const char* synopsis;
    std::size_t args;
};

constexpr std::array<Command, 4> kCommands{{
    {"ports", "ports                 list the serial ports, one per line", 0},
    {"probe", "probe                 connect: read 10 registers from 0 and print the status", 0},
    {"read", "read START COUNT      read COUNT (1-125) holding registers from START", 2},
    {"measure", "measure               one full measurement cycle: 33 lines of 7 tab-separated cells", 0},
}};

const Command* FindCommand(const std::string& name) {
    for (const auto& c : kCommands) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

// Resolves where to talk: --port as given, or the virtual module's port for --sim.
std::optional<std::string> PortName(const CliOptions& o, CliEnv& env, std::ostream& err, int& code) {
    if (o.sim) {
        std::string error;
        if (!env.startSim) error = "the virtual module is not available";
        auto name = env.startSim ? env.startSim(o.address, o.baud, error) : std::nullopt;
        if (!name) {
            err << "kvt40ctl: " << error << "\n";
            code = kExitFailed;
        }
        return name;
    }
    if (!o.port) {
        err << "kvt40ctl: " << o.command << " needs --port NAME or --sim\n";
        code = kExitUsage;
        return std::nullopt;
    }
    return o.port;
}

CommSettings SettingsOf(const CliOptions& o, const std::string& port) {
    CommSettings s;
    s.deviceAddress = o.address;
    s.port = port;
    s.baudIndex = BaudIndexOf(o.baud);
    return s;
}

// Opens the port and probes the module as the Connect dialog does; on success the link
// state holds the address and the port.
bool Connect(const CliOptions& o, CliEnv& env, const std::string& port, std::string& status, std::ostream& err) {
    CancelSink sink;
    LinkState& link = TheLink();
    ConnectSequence seq(link, *env.port, env.open, sink, *env.clock);
    const CommSettings s = SettingsOf(o, port);
    if (!seq.RunConnectButton(s)) {
        err << sink.last << "\n";
        return false;
    }
    status = seq.FinishDialog(true, s).value_or("");
    return true;
}

// Opens the port with the options' line settings and points the link state at it.
bool OpenForJob(const CliOptions& o, CliEnv& env, const std::string& port, std::ostream& err) {
    if (!env.open(port, o.baud, 8, 0, 0)) {
        err << CannotOpenText(port) << "\n";
        return false;
    }
    LinkState& link = TheLink();
    link.deviceAddress = o.address;
    link.baudIndex = BaudIndexOf(o.baud);
    link.protocol = &TheModbusRtu();
    link.port = env.port;
    return true;
}

int RunProbe(const CliOptions& o, CliEnv& env, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    const auto port = PortName(o, env, err, code);
    if (!port) return code;
    std::string status;
    if (!Connect(o, env, *port, status, err)) return kExitFailed;
    out << (status.empty() || status[0] != '\t' ? status : status.substr(1)) << "\n";
    return kExitOk;
}

int RunRead(const CliOptions& o, CliEnv& env, std::ostream& out, std::ostream& err) {
    int start = 0;
    int count = 0;
    if (!ParseInt(o.args[0], 0, 65535, start)) {
        err << "kvt40ctl: START must be a register address from 0 to 65535\n";
        return kExitUsage;
    }
    if (!ParseInt(o.args[1], 1, 125, count) || start + count > 65536) {
        err << "kvt40ctl: COUNT must be from 1 to 125 and stay below register 65536\n";
        return kExitUsage;
    }
    int code = kExitOk;
    const auto port = PortName(o, env, err, code);
    if (!port) return code;
    if (!OpenForJob(o, env, *port, err)) return kExitFailed;
    const CProtocol& rtu = TheModbusRtu();
    std::array<std::uint8_t, 8> tx{};
    const int n = rtu.BuildReadRegisters(tx, o.address, start, count);
    env.port->Write(std::span<const std::uint8_t>(tx.data(), static_cast<std::size_t>(n)));
    env.clock->sleep(200);
    std::array<std::uint8_t, 300> rx{};
    const int got = env.port->Read(rx);
    std::array<std::int32_t, 128> regs{};
    // A reply with fewer registers than asked would print a short list; scripts must see a failure.
    const bool ok = rtu.CheckReadRegistersReply(Bytes(rx.data(), static_cast<std::size_t>(got)), regs) &&
                    got >= 5 && rx[2] >= 2 * count;
    if (!ok) {
        err << kCommFailedText << "\n";
        return kExitFailed;
    }
    for (int i = 0; i < count; ++i) out << (start + i) << '\t' << regs[static_cast<std::size_t>(i)] << "\n";
    return kExitOk;
}

int RunMeasure(const CliOptions& o, CliEnv& env, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    const auto port = PortName(o, env, err, code);
    if (!port) return code;
    if (!OpenForJob(o, env, *port, err)) return kExitFailed;
    MeasuresCycle cycle(TheLink(), *env.clock);
    cycle.Start();
    for (int i = 0; i < 6; ++i) {
        env.clock->sleep(MeasuresCycle::kPollMs);
        if (!cycle.Tick()) {
            err << kUnableToReadText << "\n";
            return kExitFailed;
        }
    }
    out << cycle.GridText();
    return kExitOk;
}

}  // namespace

std::string CliUsage() {
    std::string u =
        "usage: kvt40ctl [--port NAME | --sim] [--address N] [--baud 4800|9600|19200] COMMAND [ARGS]\n"
        "\n"
        "options:\n"
        "  --port NAME           serial port of the bus (see 'ports')\n"
        "  --sim                 use the built-in virtual module instead of a port\n"
        "  --address N           module address, 1 to 247 (default 1)\n"
        "  --baud RATE           4800, 9600 or 19200 (default 9600)\n"
        "  --help                this text\n"
        "\n"
        "commands:\n";
    for (const auto& c : kCommands) u += std::string("  ") + c.synopsis + "\n";
    u +=
        "\n"
        "exit codes: 0 success, 1 port or module failure (message on stderr), 2 usage error\n";
    return u;
}

std::optional<CliOptions> ParseCliArgs(const std::vector<std::string>& argv, std::string& error) {
    CliOptions o;
    std::size_t i = 0;
    auto value = [&](const std::string& opt) -> std::optional<std::string> {
        if (i + 1 >= argv.size()) {
            error = opt + " needs a value";
            return std::nullopt;
        }
        return argv[++i];
    };
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--sim") {
            o.sim = true;
        } else if (a == "--port") {
            auto v = value(a);
            if (!v) return std::nullopt;
            o.port = *v;
        } else if (a == "--address") {
            auto v = value(a);
            if (!v) return std::nullopt;
            if (!ParseInt(*v, 1, 247, o.address)) {
                error = "--address must be from 1 to 247, not '" + *v + "'";
                return std::nullopt;
            }
        } else if (a == "--baud") {
            auto v = value(a);
            if (!v) return std::nullopt;
            if (!ParseInt(*v, 1, 1000000, o.baud) || BaudIndexOf(o.baud) < 0) {
                error = "--baud must be 4800, 9600 or 19200, not '" + *v + "'";
                return std::nullopt;
            }
        } else if (a.size() > 1 && a[0] == '-' && o.command.empty()) {
            error = "unknown option '" + a + "'";
            return std::nullopt;
        } else if (o.command.empty()) {
            o.command = a;
        } else {
            o.args.push_back(a);
        }
    }
    if (o.help) return o;
    if (o.command.empty()) {
        error = "no command given (try --help)";
        return std::nullopt;
    }
    const Command* c = FindCommand(o.command);
    if (c == nullptr) {
        error = "unknown command '" + o.command + "' (try --help)";
        return std::nullopt;
    }
    if (o.args.size() != c->args) {
        error = o.command + " takes " + std::to_string(c->args) + " argument" + (c->args == 1 ? "" : "s") +
                " (try --help)";
        return std::nullopt;
    }
    if (o.sim && o.port) {
        error = "--port and --sim exclude each other";
        return std::nullopt;
    }
    return o;
}

int RunCli(const CliOptions& o, CliEnv& env, std::ostream& out, std::ostream& err) {
    if (o.help) {
        out << CliUsage();
        return kExitOk;
    }
    if (o.command == "ports") {
        for (const auto& p : env.listPorts()) out << p << "\n";
        return kExitOk;
    }
    if (o.command == "probe") return RunProbe(o, env, out, err);
    if (o.command == "read") return RunRead(o, env, out, err);
    if (o.command == "measure") return RunMeasure(o, env, out, err);
    err << "kvt40ctl: unknown command '" << o.command << "'\n";
    return kExitUsage;
}

int RunCliArgs(const std::vector<std::string>& argv, CliEnv& env, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto options = ParseCliArgs(argv, error);
    if (!options) {
        err << "kvt40ctl: " << error << "\n";
        return kExitUsage;
    }
    return RunCli(*options, env, out, err);
}
