// tarvo-gem: a GEM equipment driven by one configuration file.
//
//   tarvo-gem equipment FILE [--quiet]
//
// It opens the line the file describes and runs the equipment; commands come
// on standard input (see commands.h), and what happens goes to standard
// output, a line each. End of input is "quit".
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "gem/config_reader.h"
#include "gem/equipment.h"
#include "tools/gem/commands.h"
#include "tools/gem/output_lines.h"

using namespace tarvo::gem;

namespace {

const char kUsage[] =
    "usage: tarvo-gem equipment FILE [--quiet]\n"
    "Runs a GEM equipment from the TOML configuration FILE on the line it\n"
    "describes. Commands on standard input, one a line:\n"
    "  event CEID | set ID VALUE | control online|offline|local|remote\n"
    "  comm enable|disable | alarm set|clear ALID | terminal TEXT\n"
    "  finish RCMD | quit\n"
    "Writes 'state', 'received', 'sent', 'constant', 'command', 'terminal',\n"
    "'program' and 'error' lines to\n"
    "standard output (--quiet: only 'error' lines).\n"
    "Exit status: 0 after quit, 1 when the driver cannot be created,\n"
    "2 for a bad command line or configuration.\n";

int bad_usage(const std::string& what) {
    std::fprintf(stderr, "tarvo-gem: %s (see --help)\n", what.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (argc < 2) return bad_usage("a command is needed: equipment FILE");
    if (std::strcmp(argv[1], "equipment") != 0) return bad_usage(std::string("unknown command '") + argv[1] + "'");
    std::string file;
    bool quiet = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quiet") == 0)
            quiet = true;
        else if (argv[i][0] == '-')
            return bad_usage(std::string("unknown option '") + argv[i] + "'");
        else if (file.empty())
            file = argv[i];
        else
            return bad_usage(std::string("one configuration file only, not also '") + argv[i] + "'");
    }
    if (file.empty()) return bad_usage("equipment needs a configuration FILE");

    ConfigResult read = read_config_file(file);
    if (!read.ok()) {
        for (const std::string& e : read.errors) std::fprintf(stderr, "%s\n", e.c_str());
        return 2;
    }
    OutputLines out(stdout, quiet);
    // The simulator's hooks: every accepted command is answered with its
    // configured HCACK, every terminal text is shown.
    Hooks hooks;
    const Config& config = read.config;
    hooks.remote_command = [&out, &config](const std::string& rcmd,
                                           const std::vector<std::pair<std::string, Item>>& parameters) {
        out.command(rcmd, parameters);
        CommandAnswer answer;
        for (const CommandDef& c : config.commands)
            if (c.name == rcmd) answer.hcack = c.hcack;
        return answer;
    };
    hooks.terminal_text = [&out](int tid, const std::string& text) { out.terminal(tid, text); };
    Equipment equipment(read.config, hooks, out);
    std::string why;
    if (!equipment.start(&why)) {
        std::fprintf(stderr, "tarvo-gem: %s\n", why.c_str());
        return 1;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string error;
        const CommandOutcome o = run_command(line, equipment, read.config, &error);
        if (o == CommandOutcome::quit) break;
        if (o == CommandOutcome::refused) out.error(error);
    }
    equipment.stop();
    return 0;
}
