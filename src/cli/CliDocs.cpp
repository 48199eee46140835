// kvt40ctl --generate man | bash-completion: the install's manual page and completion,
// written from the one command table.
#include <sstream>

#include "cli/CliCommand.h"

namespace {

// roff: a leading dot or quote would start a request; backslashes and hyphens escaped.
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

std::vector<std::string> OptionNames(const CLI::App& sub) {
    std::vector<std::string> names;
    for (const CLI::Option* o : sub.get_options()) {
        for (const std::string& n : o->get_lnames()) names.push_back("--" + n);
        for (const std::string& n : o->get_snames()) names.push_back("-" + n);
    }
    return names;
}

}  // namespace

std::string CliManPage(const CLI::App& app) {
    std::ostringstream m;
    m << ".TH KVT40CTL 1 \"\" \"kvt40 " << KVT40_VERSION << "\" \"User Commands\"\n"
      << ".SH NAME\nkvt40ctl \\- test, calibrate and service KVT40 metering modules from a terminal\n"
      << ".SH SYNOPSIS\n.B kvt40ctl\n[\\fB\\-\\-port\\fR \\fINAME\\fR | \\fB\\-\\-sim\\fR] "
         "[\\fB\\-\\-address\\fR \\fIN\\fR] [\\fB\\-\\-baud\\fR \\fI4800\\fR|\\fI9600\\fR|\\fI19200\\fR] "
         "[\\fB\\-\\-trace\\fR \\fIFILE\\fR] [\\fB\\-\\-stats\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR]\n"
      << ".SH DESCRIPTION\nThe jobs of the desktop tool \\fBkvt40\\fR(1) for scripts and production lines. "
         "Each command's output is fixed: results on standard output, messages on standard error.\n"
      << ".SH OPTIONS\n"
      << ".TP\n\\fB\\-\\-port\\fR \\fINAME\\fR\nserial port of the bus (see \\fBports\\fR), or a serial "
         "device server: \\fBtcp://\\fR\\fIHOST\\fR:\\fIPORT\\fR (raw) or "
         "\\fBrfc2217://\\fR\\fIHOST\\fR:\\fIPORT\\fR\n"
      << ".TP\n\\fB\\-\\-sim\\fR\nuse the built-in virtual module instead of a port\n"
      << ".TP\n\\fB\\-\\-address\\fR \\fIN\\fR\nmodule address, 1 to 247 (default 1)\n"
      << ".TP\n\\fB\\-\\-baud\\fR \\fIRATE\\fR\n4800, 9600 or 19200 (default 9600)\n"
      << ".TP\n\\fB\\-\\-trace\\fR \\fIFILE\\fR\nwrite every frame on the link to \\fIFILE\\fR as it goes, "
         "one "
         "line each after a header line (\\fB\\-\\fR: standard error)\n"
      << ".TP\n\\fB\\-\\-stats\\fR\nprint the link's statistics per module address to standard error at the "
         "end\n"
      << ".TP\n\\fB\\-\\-help\\fR\nthe usage; \\fICOMMAND\\fR \\fB\\-\\-help\\fR: that command's options\n"
      << ".TP\n\\fB\\-\\-version\\fR\nthe version\n"
      << ".SH COMMANDS\n";
    for (const CommandInfo& info : CliCommands()) {
        m << ".TP\n\\fB" << Roff(info.synopsis) << "\\fR\n" << Roff(info.summary) << "\n";
        const CLI::App* sub = app.get_subcommand(info.name);
        for (const CLI::Option* o : sub->get_options()) {
            if (o->get_lnames().empty() && o->get_snames().empty())
                continue;  // positionals are in the synopsis
            m << ".RS\n.TP\n\\fB" << Roff(o->get_name()) << "\\fR";
            if (o->get_type_size() != 0) m << " \\fIVALUE\\fR";
            m << "\n" << Roff(o->get_description()) << "\n.RE\n";
        }
    }
    m << ".SH EXIT STATUS\n0 success; 1 port or module failure, with the message on standard error; "
         "2 usage error, with a one-line message; a command may define more (see its line above).\n"
      << ".SH SERIAL PORT ACCESS\nOn Debian a user needs the \\fBdialout\\fR group to open serial ports:\n"
         ".PP\n.RS\nsudo usermod \\-aG dialout $USER\n.RE\n.PP\nthen log in again. When a port cannot be "
         "opened, the line after \"Cannot open\\fINAME\\fR!\" says why.\n"
      << ".SH EXAMPLES\n.nf\nkvt40ctl \\-\\-sim measure\nkvt40ctl \\-\\-port /dev/ttyUSB0 \\-\\-address 5 "
         "read 0 10\n.fi\n"
      << ".SH SEE ALSO\n\\fBkvt40\\fR(1), \\fBkvt40\\-sim\\fR(1)\n";
    return m.str();
}

std::string CliBashCompletion(const CLI::App& app) {
    std::ostringstream c;
    std::string commands;
    for (const CommandInfo& info : CliCommands())
        commands += std::string(commands.empty() ? "" : " ") + info.name;
    c << "# bash completion for kvt40ctl\n"
      << "_kvt40ctl() {\n"
      << "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
      << "    local global=\"--port --sim --address --baud --trace --stats --help --version\"\n"
      << "    case \"$prev\" in\n"
      << "        --port) local IFS=$'\\n'; COMPREPLY=($(compgen -W \"$(kvt40ctl ports 2>/dev/null)\" -- "
         "\"$cur\")); return ;;\n"
      << "        --baud) COMPREPLY=($(compgen -W \"4800 9600 19200\" -- \"$cur\")); return ;;\n"
      << "        --address) return ;;\n"
      << "        --trace) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
      << "    esac\n"
      << "    local cmd=\"\" w\n"
      << "    for w in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
      << "        case \" " << commands << " \" in *\" $w \"*) cmd=\"$w\"; break ;; esac\n"
      << "    done\n"
      << "    case \"$cmd\" in\n";
    for (const CommandInfo& info : CliCommands()) {
        std::string opts;
        for (const std::string& n : OptionNames(*app.get_subcommand(info.name))) opts += " " + n;
        c << "        " << info.name << ") COMPREPLY=($(compgen -W \"" << opts.substr(opts.empty() ? 0 : 1)
          << " $global\" -- \"$cur\")) ;;\n";
    }
    c << "        *) COMPREPLY=($(compgen -W \"" << commands << " $global\" -- \"$cur\")) ;;\n"
      << "    esac\n"
      << "}\n"
      << "complete -F _kvt40ctl kvt40ctl\n";
    return c.str();
}
