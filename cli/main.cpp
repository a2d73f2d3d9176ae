#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/output.h"
#include "engine/platform.h"

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    int (*run)(const CliInput&);
    // Reads a log, and with it the files its lines name: another user's, where an administrator
    // runs the command, need the privileges the viewer takes too.
    bool readsLog;
};

constexpr Command kCommands[] = {
    {"json",
     "json [--drive X:=DEVICE]... [--filter PATTERN [--match-case]] LOG\n"
     "                                    print the analysed log as JSON (UTF-8)",
     RunJsonCommand, true},
    {"csv", "csv [--drive X:=DEVICE]... LOG    print every behaviour as CSV (UTF-8)", RunCsvCommand,
     true},
    {"follow",
     "follow [--idle-exit S] [--drive X:=DEVICE]... LOG   print new processes and behaviours as "
     "they come (NDJSON)",
     RunFollowCommand, true},
    {"search",
     "search [--action LABEL]... [--match-case] PATTERN LOG\n"
     "                                    print the behaviours that contain PATTERN (NDJSON)",
     RunSearchCommand, true},
    {"stats", "stats LOG                         summarise the analysed log: counts per action",
     RunStatsCommand, true},
    {"featurecode", "featurecode FILE...               print the feature code of each PE file",
     RunFeatureCodeCommand, false},
    {"signer", "signer FILE...                    print the signer of each signed PE file",
     RunSignerCommand, false},
};

void PrintUsage(std::FILE* out) {
    std::fputs("usage: vantrel-cli COMMAND [ARGS]...\n\ncommands:\n", out);
    for (const Command& command : kCommands) {
        std::fprintf(out, "  %s\n", command.synopsis);
    }
    std::fputs("\n'vantrel-cli --help' prints this text.\n", out);
}

}  // namespace

void PrintError(std::string_view message) {
    std::fprintf(stderr, "vantrel-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

int main(int argc, char** argv) {
    PrepareConsoleOutput();
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return FinishOutput(kExitOk);
    }
    if (name == "--version") {
        std::fputs("vantrel-cli " VANTREL_VERSION "\n", stdout);
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (name == command.name) {
            CliInput input{CliArgs(argv + 2, argv + argc), ArgumentsAsUtf8(argc, argv)};
            input.utf8.erase(input.utf8.begin(), input.utf8.begin() + 2);
            if (command.readsLog) {
                // Nothing depends on them, so a failure is no error.
                EnablePrivilege("SeDebugPrivilege");
                EnablePrivilege("SeSecurityPrivilege");
            }
            return FinishOutput(command.run(input));
        }
    }
    PrintError("unknown command '" + name + "'");
    PrintUsage(stderr);
    return kExitUsage;
}
