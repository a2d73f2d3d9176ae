// vantrel-cli search: every behaviour whose info or detail contains a pattern, one JSON object per
// line, with exit codes as grep has them.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/json_writer.h"
#include "cli/log_reader.h"
#include "engine/behavior_search.h"
#include "engine/log_analyzer.h"
#include "tools/signer.h"

namespace {

// As grep: a hit, no hit, trouble.
constexpr int kExitHit = 0;
constexpr int kExitNoHit = 1;
constexpr int kExitTrouble = 2;

void PrintSearchUsage(std::FILE* out) {
    std::fputs(
        "usage: vantrel-cli search [--drive X:=DEVICE]... [--action LABEL]... [--match-case] "
        "PATTERN LOG\n"
        "Analyses LOG as a complete behaviour log and prints each behaviour whose info or detail\n"
        "contains PATTERN as one JSON object per line (UTF-8), in the order of the process tree\n"
        "and, within a process, in log order. ASCII letters compare ignoring case.\n"
        "  --action LABEL     only behaviours with this action label (repeatable)\n"
        "  --match-case       compare the letters of PATTERN as they are\n"
        "  --drive X:=DEVICE  map kernel device DEVICE to drive X:, as 'json' does\n"
        "Exit status: 0 when something was found, 1 when nothing was, 2 for an error.\n",
        out);
}

void WriteHit(JsonWriter& w, const BehaviorHit& hit) {
    const ProcessRecord& p = *hit.process;
    const BehaviorRecord& b = hit.behavior;
    w.Raw("{");
    w.Key("id"), w.Number(p.id), w.Raw(",");
    w.Key("pid"), w.Number(p.pid), w.Raw(",");
    w.Key("name"), w.GbkString(p.name), w.Raw(",");
    w.Key("index"), w.Raw(std::to_string(hit.index)), w.Raw(",");
    w.Key("time"), w.GbkString(b.time()), w.Raw(",");
    w.Key("action"), w.GbkString(b.action()), w.Raw(",");
    w.Key("handling"), w.GbkString(b.handling()), w.Raw(",");
    w.Key("info"), w.GbkString(b.info()), w.Raw(",");
    w.Key("detail"), w.GbkString(b.detail()), w.Raw("}\n");
}

}  // namespace

bool PatternFromArgument(std::string_view command, std::string_view utf8, bool matchCase,
                         SearchPattern& pattern) {
    const std::string prefix = std::string(command) + ": ";
    if (utf8.empty()) {
        PrintError(prefix + "the pattern is empty");
        return false;
    }
    std::string gbk;
    if (!Utf8ToGbk(utf8, gbk)) {
        PrintError(prefix + "the pattern '" + std::string(utf8) +
                   "' has a character that code page 936 cannot write");
        return false;
    }
    pattern = SearchPattern(std::move(gbk), matchCase);
    return true;
}

int RunSearchCommand(const CliInput& input) {
    const CliArgs& args = input.args;
    std::shared_ptr<DriveTable> drives;
    std::vector<std::string> actions;
    bool matchCase = false;
    std::vector<std::size_t> operands;  // positions of PATTERN and LOG in args
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            operands.push_back(i);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            PrintSearchUsage(stdout);
            return kExitOk;
        } else if (arg == "--match-case") {
            matchCase = true;
        } else if (arg == "--action" || arg.rfind("--action=", 0) == 0) {
            std::string label;
            if (arg == "--action") {
                if (i + 1 == args.size()) {
                    PrintError("search: --action needs a LABEL such as 读文件");
                    return kExitTrouble;
                }
                label = input.utf8[++i];
            } else {
                label = input.utf8[i].substr(std::string_view("--action=").size());
            }
            std::string gbk;
            if (!Utf8ToGbk(label, gbk)) {
                PrintError("search: the action label '" + label +
                           "' has a character that code page 936 cannot write");
                return kExitTrouble;
            }
            actions.push_back(std::move(gbk));
        } else if (arg == "--drive" || arg.rfind("--drive=", 0) == 0) {
            std::string_view value;
            if (arg == "--drive") {
                if (i + 1 == args.size()) {
                    PrintError(
                        "search: --drive needs a value such as C:=\\Device\\HarddiskVolume2");
                    return kExitTrouble;
                }
                value = args[++i];
            } else {
                value = std::string_view(arg).substr(8);
            }
            if (!drives) {
                drives = std::make_shared<DriveTable>();
            }
            if (!ParseDriveOption(value, *drives)) {
                PrintError("search: bad --drive '" + std::string(value) + "' (expected X:=DEVICE)");
                return kExitTrouble;
            }
        } else {
            PrintError("search: unknown option '" + arg + "'");
            return kExitTrouble;
        }
    }
    if (operands.size() != 2) {
        PrintError("search: expected PATTERN and LOG (see 'vantrel-cli search --help')");
        return kExitTrouble;
    }
    BehaviorQuery query;
    query.actions = std::move(actions);
    if (!PatternFromArgument("search", input.utf8[operands[0]], matchCase, query.pattern)) {
        return kExitTrouble;
    }
    const std::string& logPath = args[operands[1]];

    AnalyzerSeams seams;
    seams.drives = drives;
    seams.signer = MakeModuleSignerLookup();
    LogAnalyzer analyzer(std::move(seams));
    std::string error;
    if (!AnalyseWholeLog(logPath, analyzer, error)) {
        PrintError(PathArgumentAsUtf8(logPath) + ": " + error);
        return kExitTrouble;
    }
    BehaviorSearch search(std::move(query));
    std::vector<BehaviorHit> hits;
    const ProcessStore::Reader store = analyzer.Store().Read();
    search.Continue(store.roots(), hits, BehaviorSearch::Clock::time_point::max());
    JsonWriter writer;
    for (const BehaviorHit& hit : hits) {
        WriteHit(writer, hit);
    }
    return hits.empty() ? kExitNoHit : kExitHit;
}
