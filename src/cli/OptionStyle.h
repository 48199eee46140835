#pragma once
// One style for the command lines of kvt40, kvt40ctl and kvt40-sim: --help prints "usage: ..."
// and a table of options on stdout and exits 0; a usage error is one line "PROGRAM: message"
// on stderr and exit code 2, before anything is opened or sent. Header-only, so that every
// program (the Qt-free simulator too) shares it without a library of its own.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

inline constexpr int kExitUsage = 2;

// "  --port NAME" padded to the column where the texts of a help table start.
inline std::string HelpRow(const std::string& left, const std::string& text) {
    std::string line = "  " + left;
    line.resize(std::max<std::size_t>(line.size() + 1, 24), ' ');
    return line + text + "\n";
}

// CLI11's message of a parse error on one line, as the part after "PROGRAM: ".
inline std::string OneLine(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The first option of the app or of a command given on the line whose value is empty:
// an unset variable in a script, which must not quietly become the default.
inline std::optional<std::string> EmptyValueOption(const CLI::App& app) {
    std::vector<const CLI::App*> apps{&app};
    for (const CLI::App* sub : app.get_subcommands()) apps.push_back(sub);
    for (const CLI::App* a : apps)
        for (const CLI::Option* o : a->get_options()) {
            if (o->count() == 0 || o->get_type_size() == 0) continue;  // not given, or a flag
            for (const std::string& value : o->results())
                if (value.empty()) return o->get_name();
        }
    return std::nullopt;
}

// What --help of a program without commands shows around its table of options.
struct ProgramHelp {
    std::string program;   // the name its messages start with
    std::string version;   // what --version prints after the name
    std::string synopsis;  // after "usage: ", continuation lines indented by the caller
    std::string about;     // a paragraph between the usage and the options; may be empty
    std::string notes;     // paragraphs after the options, each line ending in "\n"; may be empty
};

// The help text: usage, about, then a row for each option declared with a description (in
// the order declared), then the notes. Options without a description are for scripts only.
inline std::string HelpText(const CLI::App& app, const ProgramHelp& help) {
    std::string text = "usage: " + help.synopsis + "\n\n";
    if (!help.about.empty()) text += help.about + "\n\n";
    text += "options:\n";
    for (const CLI::Option* o : app.get_options()) {
        if (o->get_description().empty() || o->get_lnames().empty()) continue;
        std::string left = "--" + o->get_lnames().front();
        if (!o->get_type_name().empty()) left += " " + o->get_type_name();
        text += HelpRow(left, o->get_description());
    }
    if (!help.notes.empty()) text += "\n" + help.notes;
    return text;
}

inline int UsageError(std::ostream& err, const std::string& program, const std::string& message) {
    err << program << ": " << message << "\n";
    return kExitUsage;
}

// Parses `args` (the command line after the program's name) into `app`, which holds the
// program's own options, after adding --help and --version. Answers those two on `out` and
// reports a usage error on `err`: the exit code then, nothing when the program goes on.
// With `foreignAllowed`, arguments the app does not know are left in app.remaining() for a
// toolkit that takes its own options from the same line.
inline std::optional<int> ParseProgramOptions(CLI::App& app, const ProgramHelp& help,
                                              const std::vector<std::string>& args, std::ostream& out,
                                              std::ostream& err, bool foreignAllowed = false) {
    if (app.get_option_no_throw("--version") == nullptr) {
        app.set_help_flag();  // --help is ours, so its text has the layout of the others
        app.add_flag("-h,--help");
        app.add_flag("--version");
        app.get_option("--help")->description("this text");
        app.get_option("--version")->description("the version");
        app.allow_extras();
    }
    // Asked for anywhere on the line, they are answered even when the rest is wrong.
    const auto given = [&args](const char* a) {
        return std::find(args.begin(), args.end(), a) != args.end();
    };
    std::optional<std::string> error;
    std::vector<std::string> rev(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        app.parse(rev);
    } catch (const CLI::ParseError& e) {
        error = OneLine(e.what());
    }
    if (given("--help") || given("-h")) {
        out << HelpText(app, help);
        return 0;
    }
    if (given("--version")) {
        out << help.program << " " << help.version << "\n";
        return 0;
    }
    if (error) return UsageError(err, help.program, *error);
    if (!foreignAllowed && !app.remaining().empty())
        return UsageError(err, help.program,
                          "unexpected argument '" + app.remaining().front() + "' (try --help)");
    if (const auto option = EmptyValueOption(app))
        return UsageError(err, help.program, *option + " needs a value, not an empty text");
    return std::nullopt;
}
