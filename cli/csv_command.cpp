// vantrel-cli csv: every behaviour of an analysed log as CSV, in the order of the tree.
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/log_options.h"
#include "cli/output.h"
#include "cli/log_reader.h"
#include "engine/log_analyzer.h"
#include "tools/signer.h"
#include "engine/store_export.h"

int RunCsvCommand(const CliInput& input) {
    const CliArgs& args = input.args;
    LogOptions options;
    bool helped = false;
    const int parsed = ParseLogOptions(
        args, "csv",
        "usage: vantrel-cli csv [--drive X:=DEVICE]... LOG\n"
        "Analyses LOG as a complete behaviour log and prints every behaviour as CSV: UTF-8 with\n"
        "a byte-order mark, a header row, one row per behaviour, processes in the order of the\n"
        "tree and each process's behaviours in log order.\n"
        "  --drive X:=DEVICE  map kernel device DEVICE to drive X: (repeatable, in order);\n"
        "                     replaces the system's drive table\n",
        options, nullptr, &helped);
    if (parsed != kExitOk || helped) {
        return parsed;
    }
    AnalyzerSeams seams;
    seams.drives = options.drives;
    seams.signer = MakeModuleSignerLookup();
    LogAnalyzer analyzer(std::move(seams));
    std::string error;
    if (!AnalyseWholeLog(options.logPath, analyzer, error)) {
        PrintError(PathArgumentAsUtf8(options.logPath) + ": " + error);
        return kExitFailure;
    }

    // The same writer as the window's export of the whole log.
    ExportOutput output;
    output.write = [](std::string_view bytes) { return WriteOutput(bytes); };
    const ReadStore readStore = [&analyzer](const StoreReadFunction& read) {
        const auto guard = analyzer.Store().Read();
        read(guard.roots());
    };
    const bool written = ExportStore(readStore, ExportScope{}, ExportFormat::Csv, {},
                                     AppendGbkAsUtf8, output) == ExportOutcome::Written &&
                         std::fflush(stdout) == 0;
    return written ? kExitOk : kExitFailure;
}
