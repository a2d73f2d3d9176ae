#include "engine/log_analyzer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/behavior_tag.h"
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
    ProcessRecord* record = byId_.Find(id);
    if (record == nullptr || !IsReachableFrom(record, list)) {
        return nullptr;
    }
    return record;
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
    // Called by the parser with `lock` held: no other lookup, no other hold.
    if (stopRequested || IsStalePass()) {
        return nullptr;
    }
    // Consecutive lines mostly come from the same process.
    if (lastActor_ != nullptr && lastActor_->id == id) {
        return lastActor_;
    }
    ProcessRecord* record = byId_.Find(id);
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
    std::lock_guard guard(lock);
    ProcessRecord* inserted = record.get();
    records_.push_back(std::move(record));
    // Linked before it is indexed: should memory run out on the way, no lookup finds a record
    // that is not in the tree.
    inserted->parent = creator;
    (creator == nullptr ? roots : creator->children).push_back(inserted);
    byId_.Add(inserted->id, inserted);
    NoteInserted(inserted);
    if (creator != nullptr && creation != nullptr) {
        creator->behaviors.push_back(StoreBehavior(*creation));
        NoteAppended(creator);
    }
    return inserted;
}

void LogAnalyzer::AppendBehavior(ProcessRecord* record, const BehaviorText& behavior) {
    std::lock_guard guard(lock);
    record->behaviors.push_back(StoreBehavior(behavior));
}

const BehaviorRecord::Labels* LogAnalyzer::InternLabels(std::string_view action,
                                                        std::string_view handling) {
    // A log has a handful of handling texts. Should one give every line a text of its own, the
    // pairs stop being shared rather than growing a table without end.
    constexpr std::size_t kMostShared = 4096;
    // Most lines repeat a recent pair: a small direct-mapped cache spares hashing the texts.
    const std::size_t slot = (action.size() * 7 + handling.size() * 13 +
                              (handling.empty() ? 0 : static_cast<unsigned char>(handling[0]))) %
                             std::size(recentLabels_);
    if (const BehaviorRecord::Labels* recent = recentLabels_[slot];
        recent != nullptr && recent->action == action && recent->handling == handling) {
        return recent;
    }
    const auto it = labels_.find(BehaviorRecord::Labels{action, handling});
    if (it != labels_.end()) {
        recentLabels_[slot] = &*it;
        return &*it;
    }
    const BehaviorRecord::Labels stored{texts_.Copy(action), texts_.Copy(handling)};
    if (labels_.size() < kMostShared) {
        return &*labels_.insert(stored).first;
    }
    auto* labels = reinterpret_cast<BehaviorRecord::Labels*>(
        texts_.Allocate(sizeof(BehaviorRecord::Labels), alignof(BehaviorRecord::Labels)));
    return new (labels) BehaviorRecord::Labels(stored);
}

const BehaviorRecord::Labels* LogAnalyzer::TagLabels(const BehaviorTag& tag,
                                                     std::string_view handling) {
    const auto index = static_cast<std::size_t>(&tag - BehaviorTags().data());
    if (tagLabels_.size() <= index) {
        tagLabels_.resize(BehaviorTags().size());
    }
    RecentTagLabels& recent = tagLabels_[index];
    for (const BehaviorRecord::Labels* labels : recent.pairs) {
        if (labels != nullptr && labels->handling == handling) {
            return labels;
        }
    }
    const BehaviorRecord::Labels* labels = InternLabels(tag.label, handling);
    recent.pairs[recent.next] = labels;
    recent.next = (recent.next + 1) % std::size(recent.pairs);
    return labels;
}

BehaviorRecord LogAnalyzer::StoreBehavior(const BehaviorText& text) {
    return StoreBehavior(text, InternLabels(text.action, text.handling));
}

BehaviorRecord LogAnalyzer::StoreBehavior(const BehaviorText& text,
                                          const BehaviorRecord::Labels* labels) {
    // Lines are read in pieces of at most the read cap, so their texts are far from 4 GiB; a
    // longer text handed in through the interface is cut rather than wrapped.
    constexpr std::size_t kLongest = UINT32_MAX - 1;
    const std::string_view time = text.time.substr(0, kLongest);
    const std::string_view info = text.info.substr(0, kLongest);
    const bool sameDetail = text.detail == text.info;
    const std::string_view detail =
        sameDetail ? std::string_view() : text.detail.substr(0, kLongest);
    const auto timeLength = static_cast<uint32_t>(time.size());
    const auto infoLength = static_cast<uint32_t>(info.size());
    const uint32_t detailCode = sameDetail ? 0 : static_cast<uint32_t>(detail.size()) + 1;
    char* p = texts_.Allocate(BehaviorRecord::LengthSize(timeLength) + time.size() +
                              BehaviorRecord::LengthSize(infoLength) + info.size() +
                              BehaviorRecord::LengthSize(detailCode) + detail.size());
    BehaviorRecord record;
    record.texts_ = p;
    for (const auto& [length, piece] : {std::pair{timeLength, time}, std::pair{infoLength, info},
                                        std::pair{detailCode, detail}}) {
        p = BehaviorRecord::WriteLength(p, length);
        if (!piece.empty()) {
            std::memcpy(p, piece.data(), piece.size());
            p += piece.size();
        }
    }
    record.labels_ = labels;
    return record;
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
            if (behaviors[i].texts_ == line->appended) {
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
        ProcessList& list = inserted->parent != nullptr ? inserted->parent->children : roots;
        if (const auto it = std::find(list.rbegin(), list.rend(), inserted); it != list.rend()) {
            list.erase(std::next(it).base());
        }
        inserted->parent = nullptr;
        byId_.Remove(inserted->id, inserted);
    }
    lastActor_ = nullptr;
    linesParsed_ -= line->counted.lines;
    linesDropped_ -= line->counted.dropped;
}

void LogAnalyzer::ClearProcesses() {
    std::lock_guard guard(lock);
    provisional_.reset();
    roots.clear();
    byId_.Clear();
    lastActor_ = nullptr;
    linesParsed_ = 0;
    linesDropped_ = 0;
    // Records own no other records, so even a chain a million levels deep goes without recursion.
    records_.clear();
    labels_.clear();
    std::fill(std::begin(recentLabels_), std::end(recentLabels_), nullptr);
    tagLabels_.clear();
    texts_.Clear();
}

std::size_t LogAnalyzer::ScratchBytes() const {
    return scratch_->batch.capacity() * sizeof(PendingBehavior);
}

ProcessList LogAnalyzer::SnapshotRoots() {
    std::lock_guard guard(lock);
    return roots;
}

bool LogAnalyzer::StoppedAtReadCap() {
    std::lock_guard guard(lock);
    return stoppedAtReadCap_;
}
