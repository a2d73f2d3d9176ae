// The filter of the process rows: the processes it concerns, every ancestor of one (how it was
// started) and every descendant of one (what it started), and nothing else. It belongs to the
// window's rows, not to the store: the store and everything else that reads it see every process.
// Portable, so that it is tested and measured natively.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/behavior_search.h"
#include "engine/process_record.h"
#include "engine/search_pattern.h"
#include "ui/tree_rows.h"

class TreeFilter {
  public:
    // Concerns the processes `pattern` matches (ProcessMatches): in their name, image path,
    // command line, or the info or detail of one of their behaviours. New processes and new
    // behaviours are looked at by each Update.
    explicit TreeFilter(SearchPattern pattern);
    // Concerns exactly `processes` (the search window's hits), named `label` for the caption.
    // They point into the store: the filter goes when the store is cleared.
    TreeFilter(std::vector<const ProcessRecord*> processes, std::string label);

    // Walks the store's tree and works out which processes are kept now. Needs the analyzer's
    // lock. Linear in the processes, plus the behaviours added since the last call: a process's
    // behaviours are searched once, not at every rebuild.
    void Update(const ProcessList& roots);

    // The search over the store's behaviours that a new pattern filter needs once, done in pieces
    // off the window's thread (BehaviorSearch::FirstHitPerProcess) before its first Update; its
    // report then spares Update every behaviour it searched. Only for a pattern filter.
    BehaviorQuery BehaviorMatchQuery() const { return query_; }
    void TakeSearched(const std::vector<BehaviorSearch::SearchedProcess>& searched);

    // Behaviours Update has searched so far (those TakeSearched reported are not among them).
    uint64_t BehaviorsSearched() const { return behaviorsSearched_; }

    // The processes kept by the last Update.
    const KeptProcessSet& Kept() const { return kept_; }
    std::size_t KeptCount() const { return kept_.size(); }
    // Every process of the tree at the last Update.
    std::size_t TotalCount() const { return total_; }
    // What the filter is for, in code page 936: the pattern, or the label given.
    const std::string& Label() const { return label_; }
    // The pattern's letter case rule (false for a filter of given processes).
    bool MatchCase() const { return query_.pattern.MatchCase(); }
    // True when it was given its processes, which go with the store.
    bool ByProcesses() const { return byProcesses_; }
    // The store is about to be cleared: forgets every record (a pattern filter then starts again
    // from the new store's processes).
    void StoreClearing();

  private:
    bool Matches(const ProcessRecord& process);

    // How far a process's behaviours were searched.
    struct Scan {
        std::size_t searched = 0;  // the first `searched` behaviours
        std::size_t removals = 0;  // the sequence's removal count then
        uint64_t reorders = 0;     // and its reorder count
        bool found = false;        // one of them matches
    };

    BehaviorQuery query_;
    std::string label_;
    bool byProcesses_ = false;
    KeptProcessSet given_;
    std::unordered_map<const ProcessRecord*, Scan> scans_;
    KeptProcessSet kept_;
    std::size_t total_ = 0;
    uint64_t behaviorsSearched_ = 0;
};

class LogAnalyzer;

// The search a new pattern filter needs (TreeFilter::BehaviorMatchQuery) over every behaviour of
// the analyzer's store, in pieces of about `piece` of the store's lock; `betweenPieces` is called
// without the lock before the first piece and after each. What it found goes to `searched`, which
// grows only between pieces: fresh memory is not got with the lock held. False when `cancel` was
// set first.
bool SearchFilterBehaviors(LogAnalyzer& analyzer, BehaviorQuery query,
                           BehaviorSearch::Clock::duration piece, const std::atomic<bool>& cancel,
                           std::vector<BehaviorSearch::SearchedProcess>& searched,
                           const std::function<void()>& betweenPieces = {},
                           SliceStats* stats = nullptr);

// The status bar's text for a filter in force: "筛选 12/3481" (kept and total processes).
std::string FilterStatusText(const TreeFilter& filter);
