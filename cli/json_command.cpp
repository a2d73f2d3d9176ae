// vantrel-cli json: the store of an analysed log as one JSON document.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/log_reader.h"
#include "cli/output.h"
#include "engine/log_analyzer.h"

namespace {

// Collects UTF-8 output and hands it to stdout in large writes.
class JsonWriter {
  public:
    ~JsonWriter() { Flush(); }

    void Raw(std::string_view text) {
        out_.append(text);
        MaybeFlush();
    }
    void Number(uint32_t value) { Raw(std::to_string(value)); }
    // A string of stored code page 936 bytes.
    void GbkString(std::string_view bytes) {
        scratch_.clear();
        AppendGbkAsUtf8(bytes, scratch_);
        Utf8String(scratch_);
    }
    void Utf8String(std::string_view text) {
        out_.push_back('"');
        for (const char c : text) {
            switch (c) {
                case '"':
                    out_.append("\\\"");
                    break;
                case '\\':
                    out_.append("\\\\");
                    break;
                case '\b':
                    out_.append("\\b");
                    break;
                case '\f':
                    out_.append("\\f");
                    break;
                case '\n':
                    out_.append("\\n");
                    break;
                case '\r':
                    out_.append("\\r");
                    break;
                case '\t':
                    out_.append("\\t");
                    break;
                default:
                    if (static_cast<unsigned char>(c) < 0x20) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                        out_.append(escaped);
                    } else {
                        out_.push_back(c);
                    }
            }
        }
        out_.push_back('"');
        MaybeFlush();
    }
    void Key(std::string_view key) {
        out_.push_back('"');
        out_.append(key);
        out_.append("\":");
    }
    void Flush() {
        WriteOutput(out_);
        out_.clear();
    }

  private:
    void MaybeFlush() {
        if (out_.size() >= (1u << 20)) {
            Flush();
        }
    }
    std::string out_;
    std::string scratch_;
};

void WriteProcessFields(JsonWriter& w, const ProcessRecord& p) {
    w.Key("id"), w.Number(p.id), w.Raw(",");
    w.Key("pid"), w.Number(p.pid), w.Raw(",");
    w.Key("ppid"), w.Number(p.ppid), w.Raw(",");
    w.Key("state"), w.Number(p.state);
    const std::pair<const char*, std::string_view> texts[] = {
        {"name", p.name},
        {"imagePath", p.imagePath},
        {"commandLine", p.commandLine},
        {"md5", p.md5},
        {"fileSize", p.fileSize},
        {"fileTimestamp", p.fileTimestamp},
        {"featureCode", p.featureCode},
        {"signSerial1", p.signSerial1},
        {"signCompany1", p.signCompany1},
        {"signSerial2", p.signSerial2},
        {"signCompany2", p.signCompany2},
        {"sign1CheckA", p.sign1CheckA},
        {"sign1CheckB", p.sign1CheckB},
        {"peSign1Check", p.peSign1Check},
        {"sign2CheckA", p.sign2CheckA},
        {"sign2CheckB", p.sign2CheckB},
        {"peSign2Check", p.peSign2Check},
        {"startTime", p.startTime},
        {"handling", p.handling},
    };
    for (const auto& [key, value] : texts) {
        w.Raw(",");
        w.Key(key);
        w.GbkString(value);
    }
    w.Raw(",");
    w.Key("behaviors");
    w.Raw("[");
    bool first = true;
    for (const BehaviorRecord& b : p.behaviors) {
        w.Raw(first ? "{" : ",{");
        first = false;
        w.Key("time"), w.GbkString(b.time()), w.Raw(",");
        w.Key("action"), w.GbkString(b.action()), w.Raw(",");
        w.Key("info"), w.GbkString(b.info()), w.Raw(",");
        w.Key("detail"), w.GbkString(b.detail()), w.Raw(",");
        w.Key("handling"), w.GbkString(b.handling()), w.Raw("}");
    }
    w.Raw("]");
}

// Walks the tree with a stack of its own: a log may chain processes thousands of levels deep.
void WriteStore(JsonWriter& w, std::string_view logPath, LogAnalyzer& analyzer) {
    std::lock_guard guard(analyzer.lock);
    w.Raw("{");
    w.Key("log");
    w.Utf8String(PathArgumentAsUtf8(logPath));
    w.Raw(",");
    w.Key("processes");
    w.Raw("[");
    struct Frame {
        const ProcessList* list;
        std::size_t next;
    };
    std::vector<Frame> stack{{&analyzer.roots, 0}};
    // Once a write has failed, the rest would go nowhere: the command fails anyway.
    while (!stack.empty() && !OutputFailed()) {
        Frame& top = stack.back();
        if (top.next == top.list->size()) {
            stack.pop_back();
            w.Raw(stack.empty() ? "]" : "]}");
            continue;
        }
        const ProcessRecord& process = *(*top.list)[top.next++];
        w.Raw(top.next > 1 ? ",{" : "{");
        WriteProcessFields(w, process);
        w.Raw(",");
        w.Key("children");
        w.Raw("[");
        stack.push_back({&process.children, 0});
    }
    w.Raw("}\n");
}

bool ParseDriveOption(std::string_view spec, DriveTable& table) {
    const std::size_t eq = spec.find('=');
    if (eq != 2 || spec[1] != ':') {
        return false;
    }
    table.Add(std::string(spec.substr(0, 2)), std::string(spec.substr(3)));
    return true;
}

}  // namespace

int RunJsonCommand(const CliArgs& args) {
    std::shared_ptr<DriveTable> drives;
    std::string logPath;
    bool havePath = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(
                "usage: vantrel-cli json [--drive X:=DEVICE]... LOG\n"
                "Analyses LOG as a complete behaviour log and prints its processes and behaviours\n"
                "as one JSON document (UTF-8).\n"
                "  --drive X:=DEVICE  map kernel device DEVICE to drive X: (repeatable, in "
                "order);\n"
                "                     replaces the system's drive table\n",
                stdout);
            return kExitOk;
        }
        std::string_view value;
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

    AnalyzerSeams seams;
    seams.drives = drives;
    LogAnalyzer analyzer(std::move(seams));
    std::string error;
    if (!AnalyseWholeLog(logPath, analyzer, error)) {
        PrintError(PathArgumentAsUtf8(logPath) + ": " + error);
        return kExitFailure;
    }
    if (analyzer.StoppedAtReadCap()) {
        PrintError(PathArgumentAsUtf8(logPath) + ": " + kCutAtReadCapText);
    }
    JsonWriter writer;
    WriteStore(writer, logPath, analyzer);
    return kExitOk;
}
