// vantrel-cli stats: what an analyst checks first: how much of the log made it into the view.
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/log_reader.h"
#include "cli/output.h"
#include "engine/behavior_tag.h"
#include "engine/log_analyzer.h"
#include "tools/signer.h"

int RunStatsCommand(const CliInput& input) {
    const CliArgs& args = input.args;
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(
            "usage: vantrel-cli stats LOG\n"
            "Analyses LOG as a complete behaviour log and prints a summary: processes, "
            "behaviours,\n"
            "behaviours per action, lines read and lines the parser dropped.\n",
            stdout);
        return kExitOk;
    }
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-')) {
        PrintError("stats: expected one LOG (see 'vantrel-cli stats --help')");
        return kExitUsage;
    }
    const std::string& logPath = args[0];
    LogAnalyzer analyzer(AnalyzerSeams{.signer = MakeModuleSignerLookup()});
    std::string error;
    if (!AnalyseWholeLog(logPath, analyzer, error)) {
        PrintError(PathArgumentAsUtf8(logPath) + ": " + error);
        return kExitFailure;
    }
    if (analyzer.StoppedAtReadCap()) {
        PrintError(PathArgumentAsUtf8(logPath) + ": " + kCutAtReadCapText);
    }
    uint64_t processes = 0;
    uint64_t behaviors = 0;
    std::map<std::string_view, uint64_t> perAction;
    {
        // Behaviours share their action texts, so they are counted by where the text is and only
        // the few distinct texts are compared.
        std::unordered_map<const char*, std::pair<std::string_view, uint64_t>> byText;
        analyzer.Store().Read().ForEachProcessInTreeOrder([&](const ProcessRecord& p) {
            ++processes;
            behaviors += p.behaviors.size();
            for (const BehaviorRecord& b : p.behaviors) {
                const std::string_view action = b.action();
                auto& [text, count] = byText[action.data()];
                text = action;
                ++count;
            }
        });
        for (const auto& [where, counted] : byText) {
            perAction[counted.first] += counted.second;
        }
    }
    const LogAnalyzer::ParseCounts counts = analyzer.Counts();
    std::string out = "log         " + PathArgumentAsUtf8(logPath) + "\n";
    out += "processes   " + std::to_string(processes) + "\n";
    out += "behaviours  " + std::to_string(behaviors) + "\n";
    // In the order of the tag table, which is how an analyst reads the log's tags.
    for (const BehaviorTag& tag : BehaviorTags()) {
        const auto it = perAction.find(tag.label);
        if (!tag.label.empty() && it != perAction.end()) {
            out += "  ";
            AppendGbkAsUtf8(tag.label, out);
            out += "  " + std::to_string(it->second) + "\n";
        }
    }
    out += "lines       " + std::to_string(counts.lines) + "\n";
    out += "dropped     " + std::to_string(counts.dropped) + "\n";
    WriteOutput(out);
    return kExitOk;
}
