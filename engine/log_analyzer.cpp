#include "engine/log_analyzer.h"

#include "engine/parse_scratch.h"
#include "engine/platform.h"

namespace {

AnalyzerSeams WithPlatformDrives(AnalyzerSeams seams) {
    if (!seams.drives) {
        seams.drives = MakePlatformDriveSource();
    }
    return seams;
}

}  // namespace

LogAnalyzer::LogAnalyzer(AnalyzerSeams seams)
    : seams_(WithPlatformDrives(std::move(seams))),
      drives_(seams_.drives, seams_.clock),
      scratch_(std::make_unique<ParseScratch>()) {
    if (!seams_.files) {
        seams_.files = MakePlatformLogFileSource();
    }
    followerThread = std::thread([this] { FollowLoop(); });
}

LogAnalyzer::~LogAnalyzer() {
    Stop();
    ClearProcesses();
}

void LogAnalyzer::Stop() {
    stopRequested_ = true;
    store_.SetStopping();
    stopEvent_.Set();
    wakeEvent_.Set();
    if (followerThread.joinable()) {
        followerThread.join();
    }
    {
        // Taken so that a waiter between its test and its wait cannot miss the notification.
        std::lock_guard guard(wakeMutex_);
    }
    wakeHandled_.notify_all();
}

ProcessRecord* LogAnalyzer::FindActor(uint32_t id) {
    // Called by the parser with the store's lock held: no other lookup, no other hold.
    if (stopRequested_ || IsStalePass()) {
        return nullptr;
    }
    // Consecutive lines mostly come from the same process.
    if (lastActor_ != nullptr && lastActor_->id == id) {
        return lastActor_;
    }
    ProcessRecord* record = store_.FindById(id);
    if (record != nullptr) {
        lastActor_ = record;
    }
    return record;
}

bool LogAnalyzer::IsStalePass() const {
    const uint64_t pass = passGeneration_.load();
    return pass != 0 && pass != generation_;
}

ProcessRecord* LogAnalyzer::InsertProcess(std::unique_ptr<ProcessRecord> record,
                                          ProcessRecord* creator, const BehaviorText* creation) {
    const auto hold = store_.Hold();
    ProcessRecord* inserted = store_.InsertProcess(std::move(record), creator, creation);
    NoteInserted(inserted);
    if (creator != nullptr && creation != nullptr) {
        NoteAppended(creator);
    }
    return inserted;
}

void LogAnalyzer::AppendBehavior(ProcessRecord* record, const BehaviorText& behavior) {
    store_.AppendBehavior(record, behavior);
}

void LogAnalyzer::WithdrawProvisional() {
    const std::unique_ptr<ProvisionalLine> line = std::move(provisional_);
    if (!line) {
        return;
    }
    if (line->appendedTo != nullptr) {
        // The window may have sorted the sequence since: look for the behaviour itself.
        auto& behaviors = line->appendedTo->behaviors;
        for (std::size_t i = behaviors.size(); i-- > 0;) {
            if (behaviors[i].Identity() == line->appended) {
                behaviors.erase(i);
                break;
            }
        }
    }
    if (line->updated != nullptr) {
        static_cast<ProcessFields&>(*line->updated) = *line->before;
    }
    if (ProcessRecord* inserted = line->inserted) {
        // Out of the tree and the index, but still owned: the window may hold its behaviours.
        store_.Detach(inserted);
    }
    lastActor_ = nullptr;
    linesParsed_ -= line->counted.lines;
    linesDropped_ -= line->counted.dropped;
}

void LogAnalyzer::ClearProcesses() {
    const auto hold = store_.Hold();
    provisional_.reset();
    lastActor_ = nullptr;
    linesParsed_ = 0;
    linesDropped_ = 0;
    store_.ClearProcesses();
}

std::size_t LogAnalyzer::ScratchBytes() const {
    return scratch_->batch.capacity() * sizeof(CutLine);
}

bool LogAnalyzer::StoppedAtReadCap() {
    const auto hold = store_.Hold();
    return stoppedAtReadCap_;
}

std::string LogAnalyzer::LogPath() const {
    const auto hold = store_.Hold();
    return logPath_;
}

uint64_t LogAnalyzer::ReadOffset() const {
    const auto hold = store_.Hold();
    return readOffset_;
}

void LogAnalyzer::WaitForPassEnd() {
    doneEvent_.Wait();
}

bool LogAnalyzer::PassEnded() {
    return doneEvent_.IsSet();
}

void LogAnalyzer::ResetPassEnded() {
    doneEvent_.Reset();
}

void LogAnalyzer::SignalPassEnded() {
    doneEvent_.Set();
}
