#pragma once
// kvt40ctl: the jobs of the desktop tool from a terminal, for scripts and production lines.
// Output is an interface: each command's lines are fixed, messages go to stderr, and the
// exit code is 0 on success, 1 when the module or port failed, 2 on a usage error.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "link/CommPort.h"
#include "link/ConnectSequence.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct CliOptions {
    std::optional<std::string> port;
    bool sim = false;
    int address = 1;
    int baud = 9600;
    bool help = false;
    std::string command;
    std::vector<std::string> args;
};

// Parses the global options and the command; on a usage error returns nothing and sets
// `error` to a one-line message.
std::optional<CliOptions> ParseCliArgs(const std::vector<std::string>& argv, std::string& error);

// What the commands run on: the real port and clock in kvt40ctl, test doubles in tests.
struct CliEnv {
    Clock* clock = nullptr;
    CCommPort* port = nullptr;
    PortOpener open;
    std::function<std::vector<std::string>()> listPorts;
    // Starts the built-in virtual module for --sim; returns the name to open, or nothing
    // with `error` set.
    std::function<std::optional<std::string>(int address, int baud, std::string& error)> startSim;
};

std::string CliUsage();

// Runs one parsed command; returns the exit code.
int RunCli(const CliOptions& options, CliEnv& env, std::ostream& out, std::ostream& err);

// Parses and runs; usage errors print "kvt40ctl: <message>" on err and return 2.
int RunCliArgs(const std::vector<std::string>& argv, CliEnv& env, std::ostream& out, std::ostream& err);
