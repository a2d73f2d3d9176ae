// vantrel-cli json: the store of an analysed log as one JSON document.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/log_reader.h"
#include "cli/output.h"
#include "engine/behavior_search.h"
#include "engine/log_analyzer.h"
#include "tools/signer.h"
#include "engine/store_export.h"

namespace {

// The store as one document, through the same writer as the window's export. With a filter, only
// the processes it keeps are written, each with its kept children.
bool WriteStore(std::string_view logPath, LogAnalyzer& analyzer, const SearchPattern* filter) {
    std::unordered_set<uint32_t> keptIds;
    ExportScope scope;
    if (filter != nullptr) {
        const auto guard = analyzer.Store().Read();
        for (const ProcessRecord* process : KeptProcesses(guard.roots(), *filter)) {
            keptIds.insert(process->id);
        }
        scope.keptIds = &keptIds;
    }
    ExportOutput output;
    output.write = [](std::string_view bytes) { return WriteOutput(bytes); };
    const ReadStore readStore = [&analyzer](const StoreReadFunction& read) {
        const auto guard = analyzer.Store().Read();
        read(guard.roots());
    };
    return ExportStore(readStore, scope, ExportFormat::Json, PathArgumentAsUtf8(logPath),
                       AppendGbkAsUtf8, output) == ExportOutcome::Written;
}

}  // namespace

int RunJsonCommand(const CliInput& input) {
    const CliArgs& args = input.args;
    std::shared_ptr<DriveTable> drives;
    std::string logPath;
    bool havePath = false;
    bool haveFilter = false;
    bool matchCase = false;
    std::string filterUtf8;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(
                "usage: vantrel-cli json [--drive X:=DEVICE]... [--filter PATTERN [--match-case]] "
                "LOG\n"
                "Analyses LOG as a complete behaviour log and prints its processes and behaviours\n"
                "as one JSON document (UTF-8).\n"
                "  --drive X:=DEVICE  map kernel device DEVICE to drive X: (repeatable, in "
                "order);\n"
                "                     replaces the system's drive table\n"
                "  --filter PATTERN   keep only the processes whose name, image path, command "
                "line\n"
                "                     or behaviours contain PATTERN, with their ancestors and\n"
                "                     descendants (ASCII letters ignoring case)\n"
                "  --match-case       compare the letters of PATTERN as they are\n",
                stdout);
            return kExitOk;
        }
        std::string_view value;
        if (arg == "--match-case") {
            matchCase = true;
            continue;
        }
        if (arg == "--filter") {
            if (i + 1 == args.size()) {
                PrintError("json: --filter needs a PATTERN");
                return kExitUsage;
            }
            filterUtf8 = input.utf8[++i];
            haveFilter = true;
            continue;
        }
        if (arg.rfind("--filter=", 0) == 0) {
            filterUtf8 = input.utf8[i].substr(std::string_view("--filter=").size());
            haveFilter = true;
            continue;
        }
        if (arg == "--drive") {
            if (i + 1 == args.size()) {
                PrintError("json: --drive needs a value such as C:=\\Device\\HarddiskVolume2");
                return kExitUsage;
            }
            value = args[++i];
        } else if (arg.rfind("--drive=", 0) == 0) {
            value = std::string_view(arg).substr(8);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            PrintError("json: unknown option '" + arg + "'");
            return kExitUsage;
        } else {
            if (arg == "--" && i + 1 < args.size()) {
                ++i;
            }
            if (havePath) {
                PrintError("json: only one LOG may be given");
                return kExitUsage;
            }
            logPath = args[i];
            havePath = true;
            continue;
        }
        if (!drives) {
            drives = std::make_shared<DriveTable>();
        }
        if (!ParseDriveOption(value, *drives)) {
            PrintError("json: bad --drive '" + std::string(value) + "' (expected X:=DEVICE)");
            return kExitUsage;
        }
    }
    if (!havePath) {
        PrintError("json: no LOG given (see 'vantrel-cli json --help')");
        return kExitUsage;
    }
    if (matchCase && !haveFilter) {
        PrintError("json: --match-case goes with --filter");
        return kExitUsage;
    }
    SearchPattern filter;
    if (haveFilter && !PatternFromArgument("json", filterUtf8, matchCase, filter)) {
        return kExitUsage;
    }

    AnalyzerSeams seams;
    seams.drives = drives;
    seams.signer = MakeModuleSignerLookup();
    LogAnalyzer analyzer(std::move(seams));
    std::string error;
    if (!AnalyseWholeLog(logPath, analyzer, error)) {
        PrintError(PathArgumentAsUtf8(logPath) + ": " + error);
        return kExitFailure;
    }
    if (analyzer.StoppedAtReadCap()) {
        PrintError(PathArgumentAsUtf8(logPath) + ": " + kCutAtReadCapText);
    }
    // A failed write is reported by the program's end, as for every command.
    WriteStore(logPath, analyzer, haveFilter ? &filter : nullptr);
    return kExitOk;
}
