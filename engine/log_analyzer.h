// The engine object: the process and behaviour store, and the parser that fills it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/device_path.h"
#include "engine/process_record.h"

// What the engine asks of the platform; a null member means the platform's own.
struct AnalyzerSeams {
    std::shared_ptr<DriveDeviceSource> drives;
};

class LogAnalyzer {
  public:
    explicit LogAnalyzer(AnalyzerSeams seams = {});
    ~LogAnalyzer();
    LogAnalyzer(const LogAnalyzer&) = delete;
    LogAnalyzer& operator=(const LogAnalyzer&) = delete;

    // --- The store. Every operation takes `lock` for its own duration; a reader on another
    // thread holds `lock` while it walks records or reads their fields.

    // The first record with `id` in a pre-order walk of `list` (roots or a snapshot of them);
    // null when there is none or while the analyzer is stopping.
    ProcessRecord* FindProcess(uint32_t id, const ProcessList& list);
    // Takes ownership of `record`. Without a creator it becomes the last root; with one, the
    // creator's last child, and `creation` (if any) is appended to the creator's behaviours, all in
    // one hold of the lock.
    ProcessRecord* InsertProcess(std::unique_ptr<ProcessRecord> record, ProcessRecord* creator,
                                 const BehaviorRecord* creation);
    void AppendBehavior(ProcessRecord* record, BehaviorRecord behavior);
    // Destroys every record; references to records are invalid afterwards.
    void ClearProcesses();
    ProcessList SnapshotRoots();

    // Turns one log line (without its CR LF) into changes of the store; bad lines change nothing.
    void ParseLine(std::string_view line);

    std::recursive_mutex lock;
    ProcessList roots;
    std::atomic<bool> stopRequested{false};

  private:
    struct ParseScratch;

    void ParseProcessCreate(const std::vector<std::string_view>& fields);
    void ParseLoadLine(const std::vector<std::string_view>& fields, bool isModule);
    bool IsReachableFrom(const ProcessRecord* record, const ProcessList& list) const;

    AnalyzerSeams seams_;
    // Owns every record, in creation order; roots and children only refer to them.
    std::vector<std::unique_ptr<ProcessRecord>> records_;
    // The first record created for each id, which is the one a pre-order walk meets first: ids
    // are unique except for roots added while stopping, when lookups find nothing anyway.
    std::unordered_map<uint32_t, ProcessRecord*> byId_;
    std::unique_ptr<ParseScratch> scratch_;
};
