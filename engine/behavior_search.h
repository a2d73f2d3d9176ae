// The search over every behaviour of the store, in the order of the tree, done in pieces: each
// piece runs with the store's lock held for a bounded time and remembers where it stopped, so
// the follower and the window go on between pieces. Also the tree filter that keeps the processes a
// pattern concerns, with their ancestors and descendants.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>
#include <unordered_set>
#include <vector>

#include "engine/process_record.h"
#include "engine/search_pattern.h"

class LogAnalyzer;

// One behaviour the search found. The pointers stay valid until the store is cleared: whoever keeps
// hits drops them before the store is cleared (another log is set).
struct BehaviorHit {
    ProcessRecord* process = nullptr;
    // The behaviour's position in its process's behaviours when it was found (log order, unless the
    // window had sorted them).
    std::size_t index = 0;
    // A copy of the record: its texts, and its Identity() to find it again after a sort.
    BehaviorRecord behavior;
};

// Roots in arrival order, each process before its children, children in arrival order, and within
// a process its behaviours in sequence order. Processes and behaviours added to the store while
// the search is under way are searched too if the walk has not passed their place yet.
class BehaviorSearch {
  public:
    using Clock = std::chrono::steady_clock;

    explicit BehaviorSearch(BehaviorQuery query);

    const BehaviorQuery& Query() const { return query_; }

    // How far the search went through one process's behaviours, reported when it leaves the
    // process: whoever keeps it need only search the behaviours from `searched` on later, while the
    // sequence's removal count is still `removals` (taken when the search came to the process).
    struct SearchedProcess {
        const ProcessRecord* process = nullptr;
        std::size_t searched = 0;
        std::size_t removals = 0;
        uint64_t reorders = 0;
        bool found = false;
    };
    // For a filter, which asks whether a process has a matching behaviour, not which: the first
    // hit of a process ends its search, and every process with behaviours (or removals) is
    // reported to `searched` as the search leaves it. Set before the first Continue.
    void FirstHitPerProcess(std::vector<SearchedProcess>* searched) {
        firstHitOnly_ = true;
        searched_ = searched;
    }

    // Searches on from where the last call stopped, with the store's lock held by the caller,
    // appending hits to `hits`. Returns true once every process has been searched; false when
    // `deadline` passed or `cancel` (if any) was set first. `roots` must be the same list each
    // call, and the store must not have been cleared since the first.
    bool Continue(const ProcessList& roots, std::vector<BehaviorHit>& hits,
                  Clock::time_point deadline, const std::atomic<bool>* cancel = nullptr);

    bool Done() const { return done_; }
    uint64_t BehaviorsSearched() const { return behaviorsSearched_; }
    uint64_t ProcessesSearched() const { return processesSearched_; }

  private:
    struct Frame {
        ProcessRecord* owner;  // whose children are walked; null for the roots
        std::size_t next;
    };
    // Moves to the next process in pre-order; false when there is none.
    bool NextProcess(const ProcessList& roots);
    // Behaviours of the current process from `next_`, until the sequence ends (true) or a check
    // finds the time up (false).
    bool SearchCurrent(std::vector<BehaviorHit>& hits, Clock::time_point deadline,
                       const std::atomic<bool>* cancel);
    bool KeepsAction(std::string_view action);
    // Reports the current process to `searched_` as the search leaves it.
    void LeaveCurrent();

    BehaviorQuery query_;
    bool firstHitOnly_ = false;
    std::vector<SearchedProcess>* searched_ = nullptr;
    std::size_t removals_ = 0;  // the current process's removal count when the search came to it
    std::vector<Frame> stack_;
    bool started_ = false;
    bool done_ = false;
    ProcessRecord* current_ = nullptr;
    std::size_t next_ = 0;
    // The sequence's reorder count when the last piece stopped: if the window sorted it since, the
    // process is searched again from its start, its hits so far not reported twice.
    uint64_t reorders_ = 0;
    std::vector<const void*> currentHits_;
    std::unordered_set<const void*> reported_;  // while searching a process again
    bool rescanning_ = false;
    // The action filter's answer for the last label text: behaviours share their label texts.
    const char* lastAction_ = nullptr;
    bool lastActionKept_ = false;
    uint64_t behaviorsSearched_ = 0;
    uint64_t processesSearched_ = 0;
};

// How a search in pieces went.
struct SliceStats {
    std::size_t slices = 0;
    BehaviorSearch::Clock::duration longestHold{};  // the lock, from taken to given back
};

// Runs `search` over the analyzer's store to its end, holding the store's lock for at most
// about `slice` at a time. After each piece, without the lock, `afterSlice` gets that piece's new
// hits (it may move them away). Returns false when `cancel` was set first.
bool SearchInSlices(LogAnalyzer& analyzer, BehaviorSearch& search,
                    BehaviorSearch::Clock::duration slice, const std::atomic<bool>& cancel,
                    const std::function<void(std::vector<BehaviorHit>& hits)>& afterSlice,
                    SliceStats* stats = nullptr);

// Adds to `kept` each process of the tree under `roots` for which `matches` is true, every
// descendant of one (without asking), and every ancestor of one; returns how many processes the
// tree holds. The one keep-the-branch rule of the CLI's filter and the window's.
template <typename Matches>
std::size_t KeepMatchingBranches(const ProcessList& roots, Matches&& matches,
                                 std::unordered_set<const ProcessRecord*>& kept) {
    struct Frame {
        const ProcessList* list;
        std::size_t next;
        bool insideMatch;  // a descendant of a match: kept without looking
    };
    std::size_t total = 0;
    std::vector<Frame> stack{{&roots, 0, false}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.list->size()) {
            stack.pop_back();
            continue;
        }
        const ProcessRecord* process = (*top.list)[top.next++];
        ++total;
        const bool keep = top.insideMatch || matches(*process);
        if (keep) {
            kept.insert(process);
            // Every kept process has its ancestors kept already, so the climb stops at the first.
            for (const ProcessRecord* a = process->parent; a != nullptr && kept.insert(a).second;
                 a = a->parent) {
            }
        }
        if (!process->children.empty()) {
            stack.push_back({&process->children, 0, keep});
        }
    }
    return total;
}

// The processes a filter by `pattern` keeps: each process that matches (ProcessMatches), every
// ancestor of one and every descendant of one. Needs the store's lock.
std::unordered_set<const ProcessRecord*> KeptProcesses(const ProcessList& roots,
                                                       const SearchPattern& pattern);
