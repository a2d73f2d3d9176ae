#include "engine/process_store.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <thread>

#include "engine/behavior_tag.h"

ProcessStore::~ProcessStore() {
    ClearProcesses();
}

std::optional<ProcessStore::Reader> ProcessStore::TryRead() const {
    Reader reader(*this, std::try_to_lock);
    if (!reader.hold_.owns_lock()) {
        return std::nullopt;
    }
    return reader;
}

std::unique_lock<std::recursive_mutex> ProcessStore::WaitForLock() const {
    std::unique_lock<std::recursive_mutex> hold(lock, std::try_to_lock);
    if (!hold.owns_lock()) {
        waiting_.fetch_add(1);
        hold.lock();
        waiting_.fetch_sub(1);
    }
    return hold;
}

void ProcessStore::LetWaitersIn(std::chrono::steady_clock::duration limit) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    // A woken waiter needs only to be scheduled: a short spin, not a sleep.
    while (waiting_.load() > 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
}

ProcessRecord* ProcessStore::FindProcess(uint32_t id) const {
    const auto guard = WaitForLock();
    return Find(id, nullptr);
}

ProcessRecord* ProcessStore::FindProcess(uint32_t id, const ProcessList& list) const {
    const auto guard = WaitForLock();
    return Find(id, &list);
}

ProcessList ProcessStore::SnapshotRoots() const {
    const auto guard = WaitForLock();
    return roots;
}

ProcessRecord* ProcessStore::Find(uint32_t id, const ProcessList* list) const {
    if (stopping_) {
        return nullptr;
    }
    ProcessRecord* record = byId_.Find(id);
    if (record == nullptr || list == nullptr || list == &roots) {
        return record;
    }
    const ProcessRecord* root = record;
    while (root->parent != nullptr) {
        root = root->parent;
    }
    return std::find(list->begin(), list->end(), root) != list->end() ? record : nullptr;
}

ProcessRecord* ProcessStore::InsertProcess(std::unique_ptr<ProcessRecord> record,
                                           ProcessRecord* creator, const BehaviorText* creation) {
    const auto guard = WaitForLock();
    ProcessRecord* inserted = record.get();
    records_.push_back(std::move(record));
    // Linked before it is indexed: should memory run out on the way, no lookup finds a record
    // that is not in the tree.
    inserted->parent = creator;
    (creator == nullptr ? roots : creator->children).push_back(inserted);
    byId_.Add(inserted->id, inserted);
    if (creator != nullptr && creation != nullptr) {
        Append(*creator, StoreBehavior(*creation));
    }
    return inserted;
}

void ProcessStore::AppendBehavior(ProcessRecord* record, const BehaviorText& behavior) {
    const auto guard = WaitForLock();
    Append(*record, StoreBehavior(behavior));
}

void ProcessStore::Detach(ProcessRecord* record) {
    ProcessList& list = record->parent != nullptr ? record->parent->children : roots;
    if (const auto it = std::find(list.rbegin(), list.rend(), record); it != list.rend()) {
        list.erase(std::next(it).base());
    }
    record->parent = nullptr;
    byId_.Remove(record->id, record);
}

void ProcessStore::ClearProcesses() {
    const auto guard = WaitForLock();
    roots.clear();
    byId_.Clear();
    // Records own no other records, so even a chain a million levels deep goes without recursion.
    records_.clear();
    labels_.clear();
    std::fill(std::begin(recentLabels_), std::end(recentLabels_), nullptr);
    tagLabels_.clear();
    recordBlocks_.Clear();
    texts_.Clear();
}

const BehaviorRecord::Labels* ProcessStore::InternLabels(std::string_view action,
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

const BehaviorRecord::Labels* ProcessStore::TagLabels(const BehaviorTag& tag,
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

BehaviorRecord ProcessStore::StoreBehavior(const BehaviorText& text) {
    return StoreBehavior(text, InternLabels(text.action, text.handling));
}

BehaviorRecord ProcessStore::StoreBehavior(const BehaviorText& text,
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
