// The help and usage errors kvt40, kvt40ctl and kvt40-sim share.
#include "cli/OptionStyle.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Program {
    CLI::App app{"prog", "prog"};
    std::string port;
    std::string count;
    bool sim = false;
    std::ostringstream out;
    std::ostringstream err;

    Program() {
        app.add_option("--port", port, "serial port of the bus")->type_name("NAME");
        app.add_option("--count", count);  // no text: for scripts, not in the help
        app.add_flag("--sim", sim, "the built-in module");
    }
    std::optional<int> Parse(const std::vector<std::string>& args, bool foreignAllowed = false) {
        const ProgramHelp help{"prog", "1.2", "prog [--port NAME | --sim]", "What it does.", "A note.\n"};
        return ParseProgramOptions(app, help, args, out, err, foreignAllowed);
    }
};

}  // namespace

TEST(OptionStyle, HelpIsTheUsageAndATableOfTheOptionsWithATextEvenOnAWrongLine) {
    Program p;
    EXPECT_EQ(p.Parse({"--bogus", "--port", "--help"}), 0);
    EXPECT_EQ(p.out.str(),
              "usage: prog [--port NAME | --sim]\n"
              "\n"
              "What it does.\n"
              "\n"
              "options:\n"
              "  --port NAME           serial port of the bus\n"
              "  --sim                 the built-in module\n"
              "  --help                this text\n"
              "  --version             the version\n"
              "\n"
              "A note.\n");
    EXPECT_EQ(p.err.str(), "");
    Program v;
    EXPECT_EQ(v.Parse({"--version"}), 0);
    EXPECT_EQ(v.out.str(), "prog 1.2\n");
}

TEST(OptionStyle, AUsageErrorIsOneLineAfterTheProgramsNameAndExitCodeTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--sim", "--bogus"}, "prog: unexpected argument '--bogus' (try --help)\n"},
        {{"--port", ""}, "prog: --port needs a value, not an empty text\n"},
        {{"--count", "3", "--port"}, "prog: --port"},  // then CLI11's words
    };
    for (const auto& [args, expected] : cases) {
        Program p;
        EXPECT_EQ(p.Parse(args), kExitUsage) << args.back();
        const std::string e = p.err.str();
        EXPECT_EQ(e.rfind(expected, 0), 0u) << e;
        EXPECT_EQ(e.find('\n'), e.size() - 1) << e;
        EXPECT_EQ(p.out.str(), "");
    }
}

// kvt40 parses before the toolkit takes its options off the line, and again after.
TEST(OptionStyle, ForeignOptionsWaitForTheToolkitThenAnythingLeftIsRefused) {
    Program p;
    EXPECT_EQ(p.Parse({"-platform", "offscreen", "--sim", "--count", "4"}, true), std::nullopt);
    EXPECT_EQ(p.app.remaining(), (std::vector<std::string>{"-platform", "offscreen"}));
    EXPECT_EQ(p.Parse({"--sim", "--count", "4"}), std::nullopt);
    EXPECT_TRUE(p.sim);
    EXPECT_EQ(p.count, "4");
    EXPECT_EQ(p.Parse({"--sim", "offscreen"}), kExitUsage);
    EXPECT_EQ(p.err.str(), "prog: unexpected argument 'offscreen' (try --help)\n");
}
