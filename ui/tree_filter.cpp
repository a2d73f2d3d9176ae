#include "ui/tree_filter.h"

#include <cstdio>
#include <utility>

#include "engine/behavior_search.h"
#include "engine/log_analyzer.h"

TreeFilter::TreeFilter(SearchPattern pattern) : label_(pattern.Bytes()) {
    query_.pattern = std::move(pattern);
}

TreeFilter::TreeFilter(std::vector<const ProcessRecord*> processes, std::string label)
    : label_(std::move(label)), byProcesses_(true), given_(processes.begin(), processes.end()) {}

void TreeFilter::StoreClearing() {
    given_.clear();
    scans_.clear();
    kept_.clear();
    total_ = 0;
}

void TreeFilter::TakeSearched(const std::vector<BehaviorSearch::SearchedProcess>& searched) {
    scans_.reserve(scans_.size() + searched.size());
    for (const BehaviorSearch::SearchedProcess& s : searched) {
        scans_[s.process] = Scan{s.searched, s.removals, s.reorders, s.found};
    }
}

bool TreeFilter::Matches(const ProcessRecord& process) {
    if (byProcesses_) {
        return given_.count(&process) != 0;
    }
    const SearchPattern& pattern = query_.pattern;
    // The fields are looked at every time: a later line for the process may change them.
    if (pattern.FoundIn(process.name) || pattern.FoundIn(process.imagePath) ||
        pattern.FoundIn(process.commandLine)) {
        return true;
    }
    const auto& behaviors = process.behaviors;
    if (behaviors.empty() && behaviors.removals() == 0) {
        return false;  // most processes of a big log: no entry needed
    }
    // Behaviours are only appended, so those searched before need not be searched again; a
    // sequence that lost some (a withdrawn line) is searched anew, and so is one sorted since,
    // unless a match was found already (a sort keeps it).
    Scan& scan = scans_[&process];
    if (behaviors.removals() != scan.removals ||
        (behaviors.Reorders() != scan.reorders && !scan.found)) {
        scan = Scan{0, behaviors.removals(), behaviors.Reorders(), false};
    }
    scan.reorders = behaviors.Reorders();
    while (!scan.found && scan.searched < behaviors.size()) {
        scan.found = query_.Matches(behaviors[scan.searched++]);
        ++behaviorsSearched_;
    }
    return scan.found;
}

void TreeFilter::Update(const ProcessList& roots) {
    kept_.clear();
    total_ = KeepMatchingBranches(
        roots, [this](const ProcessRecord& p) { return Matches(p); }, kept_);
}

bool SearchFilterBehaviors(LogAnalyzer& analyzer, BehaviorQuery query,
                           BehaviorSearch::Clock::duration piece, const std::atomic<bool>& cancel,
                           std::vector<BehaviorSearch::SearchedProcess>& searched,
                           const std::function<void()>& betweenPieces, SliceStats* stats) {
    BehaviorSearch search(std::move(query));
    // A piece reports into a list that keeps its room from piece to piece.
    std::vector<BehaviorSearch::SearchedProcess> piecesReport;
    piecesReport.reserve(16384);
    search.FirstHitPerProcess(&piecesReport);
    if (betweenPieces) {
        betweenPieces();
    }
    if (cancel.load()) {
        return false;
    }
    return SearchInSlices(
        analyzer, search, piece, cancel,
        [&](std::vector<BehaviorHit>&) {
            searched.insert(searched.end(), piecesReport.begin(), piecesReport.end());
            piecesReport.clear();
            if (betweenPieces) {
                betweenPieces();
            }
        },
        stats);
}

std::string FilterStatusText(const TreeFilter& filter) {
    char text[64];
    std::snprintf(text, sizeof(text), "筛选 %zu/%zu", filter.KeptCount(), filter.TotalCount());
    return text;
}
