// vantrel-cli follow: follows a growing log through the analyzer and prints what each pass added
// as NDJSON events, one JSON object a line, flushed per pass.
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/json_writer.h"
#include "cli/log_options.h"
#include "cli/output.h"
#include "engine/behavior_csv.h"
#include "engine/log_analyzer.h"
#include "tools/signer.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) {
    interrupted = true;
}

// Prints the events of the passes: what a reader needs to keep an up-to-date copy of the store.
class EventPrinter {
  public:
    // Appends the events for what changed since the last call. The caller holds the lock.
    void AppendChanges(const ProcessList& roots, std::string& out) {
        // Parents come before their children, so a reader always knows a process's creator.
        ForEachProcessInTreeOrder(roots, [&](const ProcessRecord& process) {
            AppendProcessChanges(process, process.parent, out);
        });
    }

    // The store was cleared: records seen so far are gone.
    void Forget() { known_.clear(); }

  private:
    struct Known {
        std::string image;  // what the process's last event showed (AppendImage)
        std::size_t behaviors = 0;
    };

    void AppendText(std::string_view bytes, std::string& out) {
        scratch_.clear();
        AppendGbkAsUtf8(bytes, scratch_);
        AppendJsonString(scratch_, out);
    }

    // What an event of the process shows, as stored bytes: compared every pass, so it is cheap
    // to make, and the event is only written out when it differs.
    static void AppendImage(const ProcessRecord& p, const ProcessRecord* parent, std::string& out) {
        for (const uint32_t number :
             {p.id, p.pid, p.ppid, p.state, parent ? parent->id : 0, parent ? 1u : 0u}) {
            out.append(reinterpret_cast<const char*>(&number), sizeof(number));
        }
        ForEachProcessText(p, [&](const char*, std::string_view value) {
            out.append(value);
            out.push_back('\0');
        });
    }

    // The fields as `json` writes them, then the creator's id.
    void AppendProcessFields(const ProcessRecord& p, const ProcessRecord* parent,
                             std::string& out) {
        out.append("\"id\":" + std::to_string(p.id) + ",\"pid\":" + std::to_string(p.pid) +
                   ",\"ppid\":" + std::to_string(p.ppid) + ",\"state\":" + std::to_string(p.state));
        ForEachProcessText(p, [&](const char* key, std::string_view value) {
            out.append(",\"").append(key).append("\":");
            AppendText(value, out);
        });
        out.append(",\"parentId\":");
        out.append(parent == nullptr ? "null" : std::to_string(parent->id));
    }

    void AppendProcessChanges(const ProcessRecord& process, const ProcessRecord* parent,
                              std::string& out) {
        Known& known = known_[&process];
        image_.clear();
        AppendImage(process, parent, image_);
        if (image_ != known.image) {
            out.append("{\"event\":\"process\",");
            AppendProcessFields(process, parent, out);
            out.append("}\n");
            known.image = image_;
        }
        const std::size_t count = process.behaviors.size();
        for (std::size_t i = known.behaviors; i < count; ++i) {
            const BehaviorRecord& b = process.behaviors[i];
            out.append("{\"event\":\"behavior\",\"id\":" + std::to_string(process.id) +
                       ",\"index\":" + std::to_string(i) + ",\"time\":");
            AppendText(b.time(), out);
            out.append(",\"action\":");
            AppendText(b.action(), out);
            out.append(",\"handling\":");
            AppendText(b.handling(), out);
            out.append(",\"info\":");
            AppendText(b.info(), out);
            out.append(",\"detail\":");
            AppendText(b.detail(), out);
            out.append("}\n");
        }
        known.behaviors = count;
    }

    // By record: a record's address stays its own until the store is cleared.
    std::unordered_map<const ProcessRecord*, Known> known_;
    std::string image_;
    std::string scratch_;
};

// Through the analyzer's own file access: 64-bit sizes and code page 936 paths on every build.
bool FileSize(LogFileSource& files, const std::string& path, uint64_t& size) {
    const std::unique_ptr<LogFileReader> file = files.Open(path);
    return file && file->Size(size);
}

// Why `path` cannot be followed, or empty when it can. Opened as the analyzer opens it: a stat()
// of a file beyond 2 GiB fails in the 32-bit program.
std::string Unreadable(LogFileSource& files, const std::string& path) {
    if (files.Open(path)) {
        return {};
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return std::strerror(errno);
    }
    return (status.st_mode & S_IFMT) == S_IFDIR ? "is a directory" : "cannot be opened";
}

}  // namespace

int RunFollowCommand(const CliInput& input) {
    const CliArgs& args = input.args;
    LogOptions options;
    double idleSeconds = -1;
    bool helped = false;
    const auto ownOption = [&](std::string_view option, const std::string* value, bool& usedValue,
                               std::string& error) {
        std::string text;
        if (option == "--idle-exit") {
            if (value == nullptr) {
                error = "--idle-exit needs a number of seconds";
                return true;
            }
            text = *value;
            usedValue = true;
        } else if (option.rfind("--idle-exit=", 0) == 0) {
            text = option.substr(12);
        } else {
            return false;
        }
        char* end = nullptr;
        idleSeconds = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(idleSeconds >= 0) || idleSeconds > 1e6) {
            error = "bad --idle-exit '" + text + "' (expected a number of seconds)";
        }
        return true;
    };
    const int parsed = ParseLogOptions(
        args, "follow",
        "usage: vantrel-cli follow [--idle-exit SECONDS] [--drive X:=DEVICE]... LOG\n"
        "Follows LOG as its writer appends to it and prints, after every pass, what the pass\n"
        "added as NDJSON (one JSON object a line, UTF-8):\n"
        "  {\"event\":\"process\",...}   a new process, or new values of one (keep the last per "
        "id);\n"
        "                            its fields as 'json' writes them, and \"parentId\"\n"
        "  {\"event\":\"behavior\",\"id\":N,\"index\":N,...}   a new behaviour of process N\n"
        "  {\"event\":\"restart\"}      the writer started a new log in the file: start over\n"
        "A last line without CR LF is never printed half-written. Ctrl+C ends the run after the\n"
        "current pass.\n"
        "  --idle-exit SECONDS  once LOG has not grown for SECONDS, take its last line as it\n"
        "                       stands and exit\n"
        "  --drive X:=DEVICE    map kernel device DEVICE to drive X: (repeatable, in order);\n"
        "                       replaces the system's drive table\n",
        options, ownOption, &helped);
    if (parsed != kExitOk || helped) {
        return parsed;
    }
    const std::shared_ptr<LogFileSource> files = MakePlatformLogFileSource();
    if (const std::string why = Unreadable(*files, options.logPath); !why.empty()) {
        PrintError(PathArgumentAsUtf8(options.logPath) + ": " + why);
        return kExitFailure;
    }
    AnalyzerSeams seams;
    seams.drives = options.drives;
    seams.signer = MakeModuleSignerLookup();
    seams.files = files;
    seams.parseQuietHeldLine = false;
    LogAnalyzer analyzer(std::move(seams));
    analyzer.SetLogPath(options.logPath);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    EventPrinter printer;
    std::string out;
    uint64_t lastSize = UINT64_MAX;
    auto lastGrowth = std::chrono::steady_clock::now();
    bool finishing = false;
    for (;;) {
        analyzer.WaitForWake(analyzer.Wake());
        out.clear();
        const bool restarted = analyzer.LogRestarted();
        if (restarted) {
            printer.Forget();
            analyzer.RestartLog();
            out.append("{\"event\":\"restart\"}\n");
        } else {
            printer.AppendChanges(analyzer.Store().Read().roots(), out);
        }
        // Flushed per pass, so a reader sees each pass's events as they come; a failure is said
        // once, when the output is finished.
        if (!WriteOutput(out) || std::fflush(stdout) != 0) {
            return kExitFailure;
        }
        if (interrupted || (finishing && !restarted)) {
            return kExitOk;
        }
        if (idleSeconds < 0) {
            continue;
        }
        uint64_t size = lastSize;
        FileSize(*files, options.logPath, size);
        const auto now = std::chrono::steady_clock::now();
        if (size != lastSize) {
            lastSize = size;
            lastGrowth = now;
        } else if (now - lastGrowth >= std::chrono::duration<double>(idleSeconds)) {
            // The writer has evidently finished: its last line counts as it stands.
            analyzer.SetFileComplete(true);
            finishing = true;
        }
    }
}
