// The store: the records of every process the log names, their index by id, the text arena that
// holds their behaviours' texts, the shared action-and-handling labels, and the lock that guards
// all of them. Readers on any thread hold the lock through a guard (Read); only the analyzer's
// parser changes the store.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
// <chrono> itself cannot be compiled to code page 936 by GCC (its unit suffixes); <mutex> brings
// the clocks.
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "engine/id_index.h"
#include "engine/process_record.h"
#include "engine/text_arena.h"

struct BehaviorTag;
class LogAnalyzer;

// Calls `visit` for every process under `roots` in the order of the tree: roots in their order,
// each process before its children. `visit` takes the record, or the record and its depth (0 for
// a root); when it returns a bool, false ends the walk. Without recursion, as chains can be
// thousands deep. Returns false when `visit` ended the walk.
template <typename Record, typename Visit>
bool ForEachProcessInTreeOrder(const std::vector<Record*>& roots, Visit&& visit) {
    struct Frame {
        const std::vector<Record*>* list;
        std::size_t next;
    };
    std::vector<Frame> stack{{&roots, 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.list->size()) {
            stack.pop_back();
            continue;
        }
        Record& process = *(*top.list)[top.next++];
        const int depth = static_cast<int>(stack.size()) - 1;
        if constexpr (std::is_invocable_v<Visit&, Record&, int>) {
            if constexpr (std::is_same_v<std::invoke_result_t<Visit&, Record&, int>, bool>) {
                if (!visit(process, depth)) {
                    return false;
                }
            } else {
                visit(process, depth);
            }
        } else if constexpr (std::is_same_v<std::invoke_result_t<Visit&, Record&>, bool>) {
            if (!visit(process)) {
                return false;
            }
        } else {
            visit(process);
        }
        stack.push_back({&process.children, 0});
    }
    return true;
}

class ProcessStore {
  public:
    ProcessStore() = default;
    ~ProcessStore();
    ProcessStore(const ProcessStore&) = delete;
    ProcessStore& operator=(const ProcessStore&) = delete;

    // A hold of the store's lock for the guard's lifetime, and the reads made under it. Records
    // and the lists it hands out stay valid while it lives; a record's behaviours may be reordered
    // (the window sorts them) but are changed otherwise only by the parser, under the lock.
    class Reader {
      public:
        Reader(Reader&&) noexcept = default;
        Reader& operator=(Reader&&) = delete;

        const ProcessList& roots() const { return store_->roots; }
        // The first record with `id` in a pre-order walk of the roots, or of `list` (a snapshot of
        // the roots); null when there is none or while the analyzer is stopping.
        ProcessRecord* FindProcess(uint32_t id) const { return store_->Find(id, nullptr); }
        ProcessRecord* FindProcess(uint32_t id, const ProcessList& list) const {
            return store_->Find(id, &list);
        }
        ProcessList SnapshotRoots() const { return store_->roots; }
        SegmentedArray<BehaviorRecord>& Behaviors(ProcessRecord& record) const {
            return record.behaviors;
        }
        // Every record of the tree in its order; see ForEachProcessInTreeOrder above.
        template <typename Visit>
        bool ForEachProcessInTreeOrder(Visit&& visit) const {
            return ::ForEachProcessInTreeOrder(store_->roots, std::forward<Visit>(visit));
        }

      private:
        friend class ProcessStore;
        explicit Reader(const ProcessStore& store) : store_(&store), hold_(store.WaitForLock()) {}
        Reader(const ProcessStore& store, std::try_to_lock_t)
            : store_(&store), hold_(store.lock, std::try_to_lock) {}

        const ProcessStore* store_;
        std::unique_lock<std::recursive_mutex> hold_;
    };

    // Waits for the lock. A thread may hold several guards at once (the lock is recursive).
    Reader Read() const { return Reader(*this); }
    // The guard, if the lock can be had without waiting.
    std::optional<Reader> TryRead() const;

    // For a reader that takes the lock again and again with barely a pause (a search in pieces):
    // the lock is not fair, and a thread woken when it was let go finds it taken again before it
    // runs, so the window or the follower would wait for the whole search. Returns once every
    // thread that waited for the lock has had it, or after `limit`. Call without the lock.
    void LetWaitersIn(std::chrono::steady_clock::duration limit) const;
    // How many threads wait for the lock now.
    int Waiting() const { return waiting_.load(); }

    // Each takes the lock for its own duration; see Reader.
    ProcessRecord* FindProcess(uint32_t id) const;
    ProcessRecord* FindProcess(uint32_t id, const ProcessList& list) const;
    ProcessList SnapshotRoots() const;

  private:
    friend class LogAnalyzer;
    friend struct ProcessStoreTestAccess;

    // --- The parser's side: the analyzer holds the lock (Hold) across its own bookkeeping, which
    // the same lock guards, and changes the store through these.
    std::unique_lock<std::recursive_mutex> Hold() const { return WaitForLock(); }
    // After this, lookups find nothing: the analyzer is stopping.
    void SetStopping() { stopping_ = true; }
    bool Stopping() const { return stopping_; }
    // With the lock: the index's record for `id` (the one a pre-order walk of the roots meets
    // first), without checking `list`.
    ProcessRecord* FindById(uint32_t id) const { return byId_.Find(id); }
    // Takes ownership of `record`. Without a creator it becomes the last root; with one, the
    // creator's last child, and `creation` (if any) is appended to the creator's behaviours.
    // Takes the lock.
    ProcessRecord* InsertProcess(std::unique_ptr<ProcessRecord> record, ProcessRecord* creator,
                                 const BehaviorText* creation);
    // Takes the lock.
    void AppendBehavior(ProcessRecord* record, const BehaviorText& behavior);
    // Destroys every record; references to records are invalid afterwards. Takes the lock.
    void ClearProcesses();
    // With the lock: takes `record` out of the tree and the index; it stays owned until the store
    // is cleared, since a reader may still hold its behaviours.
    void Detach(ProcessRecord* record);
    // With the lock: appends `behavior` to `record`'s behaviours, their blocks from the arena.
    void Append(ProcessRecord& record, const BehaviorRecord& behavior) {
        record.behaviors.push_back(behavior, recordBlocks_);
    }
    // With the lock: the compact form of a behaviour, its texts copied into the arena.
    BehaviorRecord StoreBehavior(const BehaviorText& text);
    BehaviorRecord StoreBehavior(const BehaviorText& text, const BehaviorRecord::Labels* labels);
    // The shared pair of a tag's action label and `handling`: the same as InternLabels, but the
    // tag's last few pairs are tried first, which gives the answer for almost every line.
    const BehaviorRecord::Labels* TagLabels(const BehaviorTag& tag, std::string_view handling);
    const BehaviorRecord::Labels* InternLabels(std::string_view action, std::string_view handling);
    // The arena's next chunk, made ready without the lock (see TextArena::SetNext).
    bool ArenaHasNext() const { return texts_.HasNext(); }
    bool ArenaWantsNext() const { return texts_.WantsNext(); }
    void SetArenaNext(TextArena::Chunk chunk) { texts_.SetNext(std::move(chunk)); }

    ProcessRecord* Find(uint32_t id, const ProcessList* list) const;
    // Every wait for the lock goes through here, so that LetWaitersIn sees it.
    std::unique_lock<std::recursive_mutex> WaitForLock() const;

    mutable std::recursive_mutex lock;
    mutable std::atomic<int> waiting_{0};
    ProcessList roots;  // guarded by lock
    std::atomic<bool> stopping_{false};
    // Owns every record, in creation order; roots and children only refer to them.
    std::vector<std::unique_ptr<ProcessRecord>> records_;
    // The first record created for each id, which is the one a pre-order walk meets first: ids
    // are unique except for roots added while stopping, when lookups find nothing anyway.
    IdIndex byId_;
    // The texts of every behaviour, and the shared action-and-handling pairs.
    TextArena texts_;
    // The blocks of the records' behaviour sequences, from the same arena: its chunks come with
    // their pages supplied (during a long pass, by a second thread), where blocks from the heap
    // cost the parser a page fault for every 4 KiB it fills. A sequence's first block grows
    // through a few sizes; a block outgrown is handed to the next sequence that grows through its
    // size, so the arena does not keep every size each sequence passed.
    class RecordBlocks final : public BlockSource {
      public:
        explicit RecordBlocks(TextArena& arena) : arena_(arena) {}
        void* TakeBlock(std::size_t bytes, std::size_t alignment) override {
            for (FreeBlocks& free : free_) {
                if (free.bytes == bytes && free.first != nullptr) {
                    void* block = free.first;
                    free.first = *static_cast<void**>(block);
                    return block;
                }
            }
            return arena_.Allocate(bytes, alignment);
        }
        void GiveBlock(void* block, std::size_t bytes) override {
            if (bytes < sizeof(void*)) {
                return;
            }
            for (FreeBlocks& free : free_) {
                if (free.bytes == bytes) {
                    *static_cast<void**>(block) = free.first;
                    free.first = block;
                    return;
                }
            }
            *static_cast<void**>(block) = nullptr;
            free_.push_back({bytes, block});
        }
        // With the arena's: every block goes.
        void Clear() { free_.clear(); }

      private:
        struct FreeBlocks {
            std::size_t bytes;
            void* first;  // each free block begins with the next one's address
        };
        TextArena& arena_;
        std::vector<FreeBlocks> free_;
    };
    RecordBlocks recordBlocks_{texts_};
    struct LabelsHash {
        std::size_t operator()(const BehaviorRecord::Labels& l) const {
            return std::hash<std::string_view>()(l.action) * 31 +
                   std::hash<std::string_view>()(l.handling);
        }
    };
    struct LabelsEqual {
        bool operator()(const BehaviorRecord::Labels& a, const BehaviorRecord::Labels& b) const {
            return a.action == b.action && a.handling == b.handling;
        }
    };
    std::unordered_set<BehaviorRecord::Labels, LabelsHash, LabelsEqual> labels_;
    const BehaviorRecord::Labels* recentLabels_[32] = {};
    // By tag, the last few pairs used: a log has only a handful of handling texts.
    struct RecentTagLabels {
        const BehaviorRecord::Labels* pairs[8] = {};
        std::size_t next = 0;
    };
    std::vector<RecentTagLabels> tagLabels_;
};
