#pragma once
// kvt40ctl: the jobs of the desktop tool from a terminal, for scripts and production lines.
// Output is an interface: each command's lines are fixed, messages go to stderr, and the
// exit code is 0 on success, 1 when the module or port failed, 2 on a usage error, 130
// when interrupted (SIGINT, SIGTERM, Ctrl-C).

#include <atomic>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/OptionStyle.h"  // kExitUsage, the help and error style kvt40 and kvt40-sim share
#include "link/Clock.h"
#include "link/CommPort.h"
#include "link/ConnectSequence.h"
#include "link/WallClock.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
// calibrate: the run ended and was judged, but its report could not be written (3 is its NG).
inline constexpr int kExitReportNotWritten = 4;
inline constexpr int kExitInterrupted = 130;

class RunState;
class StandardSourceFollower;

// What the commands run on: the real port and clocks in kvt40ctl, test doubles in tests.
struct CliEnv {
    explicit CliEnv(RunState& runState) : run(runState) {}

    // The run's state (protocol, update log, calibration memory, poll phase): main's, or a
    // test's own.
    RunState& run;
    Clock* clock = nullptr;
    WallClock* wall = nullptr;  // the run's (the system's local time) when not given
    CCommPort* port = nullptr;
    PortOpener open;
    // Why the last open failed, for the line after "Cannot open...!"; empty when unknown.
    std::function<std::string()> openFailure;
    std::function<std::vector<std::string>()> listPorts;
    // Prepares the built-in virtual module for --sim at the address and baud rate given;
    // returns the port name to open, or nothing with `error` set.
    std::function<std::optional<std::string>(int address, int baud, std::string& error)> startSim;
    // Set when SIGINT or SIGTERM arrived (the port is closed by then).
    const std::atomic<bool>* interrupted = nullptr;
    // The bench calibrate sets the standard source of (the built-in module's); none: by hand.
    StandardSourceFollower* bench = nullptr;
};

// The usage text of --help: options, then every command of the command table.
std::string CliUsage();

// Parses and runs one command line; usage errors print "kvt40ctl: <message>" (one line)
// on err and return 2. A failed write to out is exit 1 with a message on err. A command
// that finds env.interrupted set ends without its failure texts and returns 130 after
// "kvt40ctl: interrupted" and a line saying what it had written to the module.
int RunCliArgs(const std::vector<std::string>& argv, CliEnv& env, std::ostream& out, std::ostream& err);
