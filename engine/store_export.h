// The store as files for spreadsheets and scripts: the CSV rows (BehaviorCsv) or the JSON document
// `vantrel-cli json` prints, for the whole log, one process's branch or one process. The window
// writes them while the follower runs, so the store's lock is held only in short pieces: once to
// list the processes in the order of the tree, then once per process (or per slice of a process
// with many behaviours) to copy its fields and behaviour records; texts are read off the lock
// from the arena, which never moves or frees them until the store is cleared. Whoever may clear
// the store meanwhile must cancel the export and wait for it first.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "engine/behavior_csv.h"
#include "engine/process_record.h"

enum class ExportFormat { Csv, Json };

// Which processes an export holds, in the order of the tree: each process before its children.
struct ExportScope {
    enum class Kind {
        WholeLog,  // every root and its branch
        Branch,    // the chosen process and all its descendants
        Process,   // the chosen process alone (JSON: with no children)
    };
    Kind kind = Kind::WholeLog;
    // Branch and Process: the chosen record; valid until the store is cleared.
    const ProcessRecord* chosen = nullptr;
    // When set, only processes with these ids are written; one left out is left out with its
    // whole branch, so the set holds every kept process's ancestors, as a filter's kept set does.
    const std::unordered_set<uint32_t>* keptIds = nullptr;
};

// Calls `read(roots)` with the store held still (the analyzer's lock taken) and returns.
using StoreReadFunction = std::function<void(const ProcessList& roots)>;
using ReadStore = std::function<void(const StoreReadFunction& read)>;

struct ExportOutput {
    // Takes the next bytes of the file; false when they could not be written, which ends the
    // export. Called without the store's lock.
    std::function<bool(std::string_view bytes)> write;
    // Set by another thread to stop the export between two pieces.
    const std::atomic<bool>* cancel = nullptr;
    // After each piece, without the lock: behaviours and processes written so far, and in all.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

enum class ExportOutcome { Written, WriteFailed, Cancelled };

// How many behaviour records one hold of the lock copies at most.
inline constexpr std::size_t kExportSlice = 65536;

// Writes the scope's processes and behaviours as `format`. `logPathUtf8` is the JSON document's
// "log"; `appendUtf8` turns the store's code page 936 texts into UTF-8. Within a process the
// behaviours come in the store's order, which is the behaviour list's (the window sorts the
// sequence itself). Call without the store's lock held.
ExportOutcome ExportStore(const ReadStore& readStore, const ExportScope& scope, ExportFormat format,
                          std::string_view logPathUtf8, BehaviorCsv::AppendUtf8 appendUtf8,
                          const ExportOutput& output);
