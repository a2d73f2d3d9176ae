#include "engine/log_analyzer.h"

#include <algorithm>

#include "engine/parse_scratch.h"
#include "engine/platform.h"

LogAnalyzer::LogAnalyzer(AnalyzerSeams seams)
    : seams_(std::move(seams)), scratch_(std::make_unique<ParseScratch>()) {
    if (!seams_.drives) {
        seams_.drives = MakePlatformDriveSource();
    }
    if (!seams_.signer) {
        seams_.signer = MakeCachedSignerLookup(MakePlatformSignerLookup());
    }
    if (!seams_.files) {
        seams_.files = MakePlatformLogFileSource();
    }
    // Reading another user's process files needs these where an administrator runs the viewer;
    // nothing depends on them, so a failure is no error.
    EnablePrivilege("SeDebugPrivilege");
    EnablePrivilege("SeSecurityPrivilege");
    followerThread = std::thread([this] { FollowLoop(); });
}

LogAnalyzer::~LogAnalyzer() {
    stopRequested = true;
    stopEvent_.Set();
    wakeEvent.Set();
    followerThread.join();
    wakeHandled_.notify_all();
    ClearProcesses();
}

ProcessRecord* LogAnalyzer::FindProcess(uint32_t id, const ProcessList& list) {
    std::lock_guard guard(lock);
    if (stopRequested) {
        return nullptr;
    }
    const auto it = byId_.find(id);
    if (it == byId_.end() || !IsReachableFrom(it->second, list)) {
        return nullptr;
    }
    return it->second;
}

bool LogAnalyzer::IsReachableFrom(const ProcessRecord* record, const ProcessList& list) const {
    if (&list == &roots) {
        return true;
    }
    while (record->parent != nullptr) {
        record = record->parent;
    }
    return std::find(list.begin(), list.end(), record) != list.end();
}

ProcessRecord* LogAnalyzer::FindActor(uint32_t id) {
    std::lock_guard guard(lock);
    return IsStalePass() ? nullptr : FindProcess(id, roots);
}

bool LogAnalyzer::IsStalePass() const {
    const uint64_t pass = passGeneration_.load();
    return pass != 0 && pass != generation_;
}

ProcessRecord* LogAnalyzer::InsertProcess(std::unique_ptr<ProcessRecord> record,
                                          ProcessRecord* creator, const BehaviorRecord* creation) {
    std::lock_guard guard(lock);
    ProcessRecord* inserted = record.get();
    records_.push_back(std::move(record));
    byId_.try_emplace(inserted->id, inserted);
    if (creator == nullptr) {
        inserted->parent = nullptr;
        roots.push_back(inserted);
        return inserted;
    }
    inserted->parent = creator;
    creator->children.push_back(inserted);
    if (creation != nullptr) {
        creator->behaviors.push_back(*creation);
    }
    return inserted;
}

void LogAnalyzer::AppendBehavior(ProcessRecord* record, BehaviorRecord behavior) {
    std::lock_guard guard(lock);
    record->behaviors.push_back(std::move(behavior));
}

void LogAnalyzer::ClearProcesses() {
    std::lock_guard guard(lock);
    roots.clear();
    byId_.clear();
    // Records own no other records, so even a chain a million levels deep goes without recursion.
    records_.clear();
}

ProcessList LogAnalyzer::SnapshotRoots() {
    std::lock_guard guard(lock);
    return roots;
}
