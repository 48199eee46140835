#include "cli/Cli.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <mutex>
#include <ostream>

#include "cli/CliCommand.h"
#include "link/LinkMonitor.h"

namespace {

std::vector<CommandInfo>& Table() {
    static std::vector<CommandInfo> table;
    return table;
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

}  // namespace

bool ParseIntArg(const std::string& text, long long lo, long long hi, int& out) {
    long long v = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || ptr != end || text.empty() || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

bool RegisterCliCommand(const CommandInfo& info) {
    auto& t = Table();
    t.push_back(info);
    std::stable_sort(t.begin(), t.end(),
                     [](const CommandInfo& a, const CommandInfo& b) { return a.order < b.order; });
    return true;
}

const std::vector<CommandInfo>& CliCommands() {
    return Table();
}

std::vector<std::pair<const CommandInfo*, std::unique_ptr<CliCommand>>> DeclareCliCommands(CLI::App& app) {
    std::vector<std::pair<const CommandInfo*, std::unique_ptr<CliCommand>>> commands;
    for (const CommandInfo& info : CliCommands()) {
        CLI::App* sub = app.add_subcommand(info.name, info.summary);
        auto cmd = info.make();
        cmd->Declare(*sub);
        commands.emplace_back(&info, std::move(cmd));
    }
    return commands;
}

CliContext::CliContext(const GlobalOptions& o, CliEnv& e, std::ostream& outStream, std::ostream& errStream)
    : options(o), env(e), out(outStream), err(errStream) {
    link_.protocol = &env.run.protocol;
    link_.lastExchange = &lastExchange_;
    link_.monitor = &env.run.monitor;
}

WallClock& CliContext::Wall() const {
    return env.wall != nullptr ? *env.wall : env.run.wall;
}

int CliContext::Failed(const std::string& message) {
    if (Interrupted()) {
        code_ = kExitInterrupted;
        return code_;
    }
    err << message << "\n";
    code_ = kExitFailed;
    TellFailureReason();
    return code_;
}

std::string CliContext::PortLostReason() const {
    return link_.port != nullptr ? link_.port->LostReason() : std::string();
}

void CliContext::TellFailureReason() {
    if (reasonTold_ || Interrupted()) return;
    // A lost port outranks whatever the exchange that met it was told.
    std::string why;
    if (const std::string lost = PortLostReason(); !lost.empty())
        why = "Port lost: " + lost;
    else if (lastExchange_.failure != ExchangeFailure::None &&
             lastExchange_.failure != ExchangeFailure::NoLink)
        why = FailureText(lastExchange_);
    if (why.empty()) return;
    err << "kvt40ctl: " << why << "\n";
    reasonTold_ = true;
}

void CliContext::Finish(int code) {
    if (code == kExitFailed) TellFailureReason();
}

bool CliContext::ReopenLink() {
    if (portName_.empty() || !env.open(portName_, options.baud, 8, 0, 0)) return false;
    link_.port = env.port;
    return link_.port != nullptr && link_.port->IsOpen();
}

int CliContext::Usage(const std::string& message) {
    err << "kvt40ctl: " << message << "\n";
    code_ = kExitUsage;
    return code_;
}

std::optional<std::string> CliContext::PortName() {
    if (options.sim) {
        std::string error;
        std::optional<std::string> name;
        if (env.startSim)
            name = env.startSim(options.address, options.baud, error);
        else
            error = "the virtual module is not available";
        if (!name) Failed("kvt40ctl: " + error);
        return name;
    }
    if (!options.portGiven) {
        Usage("this command needs --port NAME or --sim");
        return std::nullopt;
    }
    return options.port;
}

void CliContext::ReportOpenFailure(const std::string& port) {
    Failed(CannotOpenText(port));
    // Scripts match the first line; the second says why.
    const std::string why = env.openFailure ? env.openFailure() : std::string();
    if (!why.empty()) err << "kvt40ctl: " << why << "\n";
}

bool CliContext::RefusedAfterInterrupt() {
    if (!Interrupted()) return false;
    code_ = kExitInterrupted;
    return true;
}

bool CliContext::OpenLink() {
    if (RefusedAfterInterrupt()) return false;
    const auto port = PortName();
    if (!port) return false;
    if (!env.open(*port, options.baud, 8, 0, 0)) {
        ReportOpenFailure(*port);
        return false;
    }
    link_.deviceAddress = options.address;
    link_.baudIndex = BaudIndexOf(options.baud);
    link_.portName = *port;
    recorder_.Wrap(env.port);
    link_.port = &recorder_;
    portName_ = *port;
    return true;
}

bool CliContext::ConnectLink(std::string& status) {
    return ConnectLink(status, options.address, options.baud);
}

bool CliContext::ConnectLink(std::string& status, int address, int baud) {
    // A command stopped half-way does not go on at new settings.
    if (RefusedAfterInterrupt()) return false;
    const auto port = PortName();
    if (!port) return false;
    CancelSink sink;
    bool opened = true;
    // The dialog's opener, so that an open failure can say why.
    PortOpener open = [&](const std::string& n, int b, int d, int p, int s) {
        opened = env.open(n, b, d, p, s);
        // A network address moves the link to the network port.
        if (opened) recorder_.Wrap(env.port);
        return opened;
    };
    recorder_.Wrap(env.port);
    ConnectSequence seq(link_, recorder_, open, sink, *env.clock);
    CommSettings s;
    s.deviceAddress = address;
    s.port = *port;
    s.baudIndex = BaudIndexOf(baud);
    if (!seq.RunConnectButton(s)) {
        if (!opened)
            ReportOpenFailure(*port);
        else
            Failed(sink.last);
        return false;
    }
    status = seq.FinishDialog(true, s).value_or("");
    if (!status.empty() && status[0] == '\t') status.erase(0, 1);
    return true;
}

std::string CliUsage() {
    std::string u =
        "usage: kvt40ctl [--port NAME | --sim] [--address N] [--baud 4800|9600|19200] [--trace FILE] "
        "[--stats] COMMAND [ARGS]\n"
        "\n"
        "options:\n"
        "  --port NAME           serial port of the bus (see 'ports'), or a serial device server:\n"
        "                        tcp://HOST:PORT (raw) or rfc2217://HOST:PORT\n"
        "  --sim                 use the built-in virtual module instead of a port\n"
        "  --address N           module address, 1 to 247 (default 1)\n"
        "  --baud RATE           4800, 9600 or 19200 (default 9600)\n"
        "  --trace FILE          write every frame on the link to FILE ('-': standard error)\n"
        "  --stats               print the link's statistics per module to standard error at the end\n"
        "  --help                this text (COMMAND --help: that command's options)\n"
        "\n"
        "commands:\n";
    for (const CommandInfo& c : CliCommands()) {
        u += HelpRow(c.synopsis, c.summary);
    }
    u += "\n"
         "exit codes: 0 success, 1 port or module failure (message on stderr), 2 usage error,\n"
         "            130 interrupted (stderr says what had been written to the module)\n";
    return u;
}

int RunCliArgs(const std::vector<std::string>& argv, CliEnv& env, std::ostream& out, std::ostream& err) {
    CLI::App app{"kvt40ctl", "kvt40ctl"};
    app.set_help_flag();  // --help is ours, so its text stays as scripts know it
    bool help = false;
    std::string port;
    std::string address;
    std::string baud;
    GlobalOptions g;
    app.add_flag("-h,--help", help);
    CLI::Option* portOpt = app.add_option("--port", port);
    CLI::Option* simOpt = app.add_flag("--sim", g.sim);
    app.add_option("--address", address);
    app.add_option("--baud", baud);
    portOpt->excludes(simOpt);
    app.fallthrough();

    std::string trace;
    CLI::Option* traceOpt = app.add_option("--trace", trace);
    bool stats = false;
    app.add_flag("--stats", stats);
    bool version = false;
    app.add_flag("--version", version);
    std::string generate;
    app.add_option("--generate", generate);  // man or bash-completion, for the install
    std::vector<std::pair<const CommandInfo*, std::unique_ptr<CliCommand>>> commands =
        DeclareCliCommands(app);

    // CLI11 wants argv[0] first and the rest reversed.
    std::vector<std::string> rev(argv.rbegin(), argv.rend());
    try {
        app.parse(rev);
    } catch (const CLI::ParseError& e) {
        std::string message = OneLine(e.what());
        if (!help) {
            if (app.get_subcommands().empty() && !app.remaining().empty())
                message = "unknown command '" + app.remaining().front() + "' (try --help)";
            err << "kvt40ctl: " << message << "\n";
            return kExitUsage;
        }
    }
    if (version) {
        out << "kvt40ctl " << KVT40_VERSION << "\n";
        return kExitOk;
    }
    if (generate == "man" || generate == "bash-completion") {
        out << (generate == "man" ? CliManPage(app) : CliBashCompletion(app));
        return kExitOk;
    }
    if (help) {
        const auto subs = app.get_subcommands();
        out << (subs.empty() ? CliUsage() : subs.front()->help());
        return kExitOk;
    }
    if (!app.remaining().empty()) {
        err << "kvt40ctl: unexpected argument '" << app.remaining().front() << "' (try --help)\n";
        return kExitUsage;
    }
    if (portOpt->count() > 0 && port.empty()) {
        err << "kvt40ctl: --port needs a port name\n";
        return kExitUsage;
    }
    if (const auto option = EmptyValueOption(app)) {
        err << "kvt40ctl: " << *option << " needs a value, not an empty text\n";
        return kExitUsage;
    }
    if (!address.empty() && !ParseIntArg(address, 1, 247, g.address)) {
        err << "kvt40ctl: --address must be from 1 to 247, not '" << address << "'\n";
        return kExitUsage;
    }
    if (!baud.empty() && (!ParseIntArg(baud, 1, 1000000, g.baud) || BaudIndexOf(g.baud) < 0)) {
        err << "kvt40ctl: --baud must be 4800, 9600 or 19200, not '" << baud << "'\n";
        return kExitUsage;
    }
    if (portOpt->count() > 0) {
        g.port = port;
        g.portGiven = true;
    }
    const bool anyCommand = std::any_of(commands.begin(), commands.end(),
                                        [&app](const auto& c) { return app.got_subcommand(c.first->name); });
    // The trace file is opened before any port, so a path that cannot be written costs nothing.
    std::ofstream traceFile;
    if (traceOpt->count() > 0 && trace != "-" && anyCommand) {
        traceFile.open(trace, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!traceFile) {
            err << "kvt40ctl: cannot write the trace file " << trace << ": " << std::strerror(errno) << "\n";
            return kExitUsage;
        }
    }
    LinkMonitor& monitor = env.run.monitor;
    monitor.Clear();
    std::ostream* traceOut = traceOpt->count() == 0 ? nullptr : trace == "-" ? &err : &traceFile;
    std::mutex traceMutex;
    if (traceOut != nullptr && anyCommand) {
        *traceOut << FrameLineHeader() << "\n" << std::flush;
        // Flushed line by line: a trace is read most when a command hangs or is killed.
        monitor.SetListener([traceOut, &traceMutex](const FrameRecord& f) {
            std::lock_guard lock(traceMutex);
            *traceOut << FrameLine(f) << "\n" << std::flush;
        });
    }
    struct ListenerReset {
        LinkMonitor& m;
        ~ListenerReset() { m.SetListener({}); }
    } listenerReset{monitor};
    for (auto& [info, cmd] : commands) {
        if (!app.got_subcommand(info->name)) continue;
        CliContext ctx(g, env, out, err);
        int code = cmd->Run(ctx);
        ctx.Finish(code);
        if (traceFile.is_open() && !traceFile)
            err << "kvt40ctl: the trace file " << trace << " could not be written whole\n";
        if (stats) err << "kvt40ctl: link statistics\n" << StatisticsTable(monitor.Statistics());
        out.flush();
        if (!out) {
            err << "kvt40ctl: cannot write to standard output\n";
            code = kExitFailed;
        }
        if (ctx.Interrupted()) {
            err << "kvt40ctl: interrupted\n"
                << "kvt40ctl: " << ctx.Written().Summary() << "\n";
            code = kExitInterrupted;
        }
        return code;
    }
    err << "kvt40ctl: no command given (try --help)\n";
    return kExitUsage;
}
