#pragma once
// kvt40ctl's commands run in-process against the virtual module on the virtual clock, as
// `kvt40ctl --sim` runs them: each open is the SimPort's at the baud asked, and Run gives
// the exit code with stdout and stderr of that run alone in `out` and `err`.

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "support/SimLink.h"

class CommandFixture : public ::testing::Test, protected SimLink {
protected:
    explicit CommandFixture(int address = 1) : SimLink(address, PortAtStart::Closed) {
        env.clock = &clock;
        env.port = &port;
        env.open = [this](const std::string&, int baud, int, int, int) {
            ++opens;
            return port.Open(baud);
        };
        env.listPorts = [] { return std::vector<std::string>{}; };
        env.startSim = [](int, int, std::string&) { return std::optional<std::string>("Virtual module"); };
    }
    int Run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        args.insert(args.begin(), leading.begin(), leading.end());
        return RunCliArgs(args, env, out, err);
    }

    CliEnv env{run};
    std::vector<std::string> leading;  // put in front of every command line ("--sim")
    std::ostringstream out, err;
    int opens = 0;
};
