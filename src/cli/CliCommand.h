#pragma once
// One file per kvt40ctl command: a class that declares its arguments on its CLI11
// subcommand and runs against a CliContext, registered in the one command table that
// --help and the dispatcher read.
//
//     class ReadCommand final : public CliCommand {
//         void Declare(CLI::App& sub) override { sub.add_option("START", start_)->required(); }
//         int Run(CliContext& ctx) override {
//             if (!ctx.OpenLink()) return ctx.Code();
//             auto regs = ctx.Session().ReadRegisters(start_, 1, 200); ...
//         }
//         int start_ = 0;
//     };
//     KVT40_CLI_COMMAND(ReadCommand, "read", "read START COUNT", "read COUNT (1-125) ...", 30)

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/WriteRecorder.h"
#include "link/LinkState.h"
#include "link/ModbusSession.h"
#include "run/RunState.h"

struct GlobalOptions {
    std::string port;
    bool portGiven = false;
    bool sim = false;
    int address = 1;
    int baud = 9600;
};

// A command's view of the run: options, streams, clocks and the link it opens.
class CliContext {
public:
    CliContext(const GlobalOptions& options, CliEnv& env, std::ostream& out, std::ostream& err);

    const GlobalOptions& options;
    CliEnv& env;
    std::ostream& out;
    std::ostream& err;

    Clock& GetClock() const { return *env.clock; }
    RunState& Run() const { return env.run; }
    WallClock& Wall() const;
    LinkState& Link() { return link_; }
    // A session over this run's link (open it first).
    ModbusSession Session() { return ModbusSession(link_, *env.clock); }
    bool Interrupted() const { return env.interrupted != nullptr && env.interrupted->load(); }

    // What went out to the module through this context's link so far.
    const WriteRecorder& Written() const { return recorder_; }

    // The prologue of a job: the port (--port, or the built-in module for --sim) opened
    // with the options' line settings and the link pointed at it. False after printing why;
    // Code() is then the exit code. Once interrupted, no port is opened (again).
    bool OpenLink();
    // The Connect dialog's sequence (open, probe 10 registers from 0); the status text
    // without its tab on success.
    bool ConnectLink(std::string& status);
    // The same at another address and line rate (a module just re-addressed): the port is
    // closed and opened again at `baud`, and the link keeps the new settings on success.
    bool ConnectLink(std::string& status, int address, int baud);
    int Code() const { return code_; }
    // Opens the port of OpenLink again after it was lost, quietly (a watch that waits for a
    // device to come back); true when it is open again.
    bool ReopenLink();
    // Why the link's port was lost; empty while it was not.
    std::string PortLostReason() const;

    // Prints the message on stderr, then the reason line, and returns exit code 1; once
    // interrupted, prints nothing (the failure is the interruption's) and returns 130.
    int Failed(const std::string& message);
    // The one line under a failure that says what the link saw: "kvt40ctl: No reply from
    // module 1", "kvt40ctl: Port lost: Input/output error", ... Printed at most once per run,
    // and not when the run was interrupted or nothing went wrong on the link.
    void TellFailureReason();
    // The end of a command's run: a failure that has not said why yet says it now.
    void Finish(int code);
    // The command's own lines already say why it failed (update's one state per module):
    // no reason line is added at the end.
    void FailureExplained() { reasonTold_ = true; }
    // Prints "kvt40ctl: message" on stderr and returns exit code 2.
    int Usage(const std::string& message);

private:
    std::optional<std::string> PortName();
    void ReportOpenFailure(const std::string& port);

    bool RefusedAfterInterrupt();

    LinkState link_;
    WriteRecorder recorder_;
    ExchangeRecord lastExchange_;  // link_ notes every exchange here
    std::string portName_;         // what OpenLink opened
    bool reasonTold_ = false;
    int code_ = kExitOk;
};

// A decimal integer from lo to hi, the whole text and nothing else.
bool ParseIntArg(const std::string& text, long long lo, long long hi, int& out);

class CliCommand {
public:
    virtual ~CliCommand() = default;
    // Adds the command's arguments and options, bound to its members.
    virtual void Declare(CLI::App& sub) = 0;
    virtual int Run(CliContext& ctx) = 0;
};

struct CommandInfo {
    const char* name;
    const char* synopsis;  // "read START COUNT"
    const char* summary;   // one line for --help
    int order;             // place in --help
    std::unique_ptr<CliCommand> (*make)();
};

// Called by KVT40_CLI_COMMAND at start-up; the table is sorted by order.
bool RegisterCliCommand(const CommandInfo& info);
const std::vector<CommandInfo>& CliCommands();
// Adds every command of the table as a subcommand of app; the commands own the options' values.
std::vector<std::pair<const CommandInfo*, std::unique_ptr<CliCommand>>> DeclareCliCommands(CLI::App& app);

// The manual page (roff) and the bash completion, both from the command table and the
// options the commands declared, so every command added appears in both.
std::string CliManPage(const CLI::App& app);
std::string CliBashCompletion(const CLI::App& app);

#define KVT40_CLI_COMMAND(Class, name, synopsis, summary, order)                                         \
    namespace {                                                                                          \
    const bool kRegistered##Class =                                                                      \
        RegisterCliCommand({name, synopsis, summary, order,                                              \
                            []() -> std::unique_ptr<CliCommand> { return std::make_unique<Class>(); }}); \
    }
