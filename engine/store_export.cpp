#include "engine/store_export.h"

#include <algorithm>
#include <vector>

#include "engine/behavior_json.h"

namespace {

// Output is handed on in pieces of about this size.
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

struct Entry {
    const ProcessRecord* record;
    uint32_t depth;  // 0 for the scope's top processes
};

bool Kept(const ExportScope& scope, const ProcessRecord& process) {
    return scope.keptIds == nullptr || scope.keptIds->count(process.id) != 0;
}

// The scope's processes in the order of the tree, and how many behaviours they hold now. Walks
// with a stack of its own: a log may chain processes thousands of levels deep. Needs the lock.
std::vector<Entry> ListProcesses(const ProcessList& roots, const ExportScope& scope,
                                 uint64_t& behaviors) {
    std::vector<Entry> entries;
    behaviors = 0;
    ProcessList top;
    if (scope.kind == ExportScope::Kind::WholeLog) {
        top = roots;
    } else if (scope.chosen != nullptr) {
        top.push_back(const_cast<ProcessRecord*>(scope.chosen));
    }
    struct Frame {
        const ProcessList* list;
        std::size_t next;
    };
    std::vector<Frame> stack{{&top, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.list->size()) {
            stack.pop_back();
            continue;
        }
        const ProcessRecord& process = *(*frame.list)[frame.next++];
        if (!Kept(scope, process)) {
            continue;
        }
        entries.push_back({&process, static_cast<uint32_t>(stack.size() - 1)});
        behaviors += process.behaviors.size();
        if (scope.kind != ExportScope::Kind::Process) {
            stack.push_back({&process.children, 0});
        }
    }
    return entries;
}

// A copy of one process as it was at one moment: its fields and its behaviours in their order.
// The records are copied a slice per hold of the lock; a sort between two holds (the window's
// column click) starts the copy again, so the copy never mixes two orders.
void CopyProcess(const ReadStore& readStore, const ProcessRecord& process, ProcessFields& fields,
                 std::vector<BehaviorRecord>& behaviors, const std::atomic<bool>* cancel) {
    behaviors.clear();
    std::size_t count = 0;
    uint64_t reorders = 0;
    std::size_t removals = 0;
    bool started = false;
    while (!started || behaviors.size() < count) {
        if (cancel != nullptr && cancel->load()) {
            return;
        }
        readStore([&](const ProcessList&) {
            const auto& sequence = process.behaviors;
            if (!started || sequence.Reorders() != reorders || sequence.removals() != removals) {
                fields = process;
                count = sequence.size();
                reorders = sequence.Reorders();
                removals = sequence.removals();
                behaviors.clear();
                behaviors.reserve(count);
                started = true;
            }
            const std::size_t end = std::min(count, behaviors.size() + kExportSlice);
            for (std::size_t i = behaviors.size(); i < end; ++i) {
                behaviors.push_back(sequence[i]);
            }
        });
    }
}

}  // namespace

ExportOutcome ExportStore(const ReadStore& readStore, const ExportScope& scope, ExportFormat format,
                          std::string_view logPathUtf8, BehaviorCsv::AppendUtf8 appendUtf8,
                          const ExportOutput& output) {
    std::vector<Entry> entries;
    uint64_t total = 0;
    readStore([&](const ProcessList& roots) { entries = ListProcesses(roots, scope, total); });
    total += entries.size();

    std::string out;
    bool failed = false;
    const auto flush = [&](bool always) {
        if (!failed && (always || out.size() >= kWriteChunk)) {
            failed = !output.write(out);
            out.clear();
        }
    };
    BehaviorCsv csv(appendUtf8);
    ProcessJson json(appendUtf8);
    if (format == ExportFormat::Csv) {
        BehaviorCsv::AppendHeader(out);
    } else {
        out.append("{\"log\":");
        AppendJsonString(logPathUtf8, out);
        out.append(",\"processes\":[");
    }
    // JSON: how many processes have their "children" open, and whether each open level has an
    // element written already.
    uint32_t open = 0;
    std::vector<bool> levelHasItem{false};
    ProcessFields fields;
    std::vector<BehaviorRecord> behaviors;
    uint64_t done = 0;
    for (const Entry& entry : entries) {
        if (output.cancel != nullptr && output.cancel->load()) {
            return ExportOutcome::Cancelled;
        }
        CopyProcess(readStore, *entry.record, fields, behaviors, output.cancel);
        if (output.cancel != nullptr && output.cancel->load()) {
            return ExportOutcome::Cancelled;
        }
        if (format == ExportFormat::Csv) {
            for (const BehaviorRecord& behavior : behaviors) {
                csv.AppendRow(fields, behavior, out);
                flush(false);
            }
        } else {
            for (; open > entry.depth; --open) {
                out.append("]}");
                levelHasItem.pop_back();
            }
            if (levelHasItem.back()) {
                out.push_back(',');
            }
            levelHasItem.back() = true;
            json.AppendOpening(fields, out);
            bool first = true;
            for (const BehaviorRecord& behavior : behaviors) {
                json.AppendBehavior(behavior, first, out);
                first = false;
                flush(false);
            }
            out.append("],\"children\":[");
            ++open;
            levelHasItem.push_back(false);
        }
        if (failed) {
            return ExportOutcome::WriteFailed;
        }
        done += behaviors.size() + 1;
        if (output.progress) {
            output.progress(std::min(done, total), total);
        }
    }
    if (format == ExportFormat::Json) {
        for (; open > 0; --open) {
            out.append("]}");
        }
        out.append("]}\n");
    }
    flush(true);
    return failed ? ExportOutcome::WriteFailed : ExportOutcome::Written;
}
