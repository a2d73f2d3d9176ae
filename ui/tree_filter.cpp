#include "ui/tree_filter.h"

#include <cstdio>
#include <utility>

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
    }
    return scan.found;
}

void TreeFilter::Update(const ProcessList& roots) {
    kept_.clear();
    total_ = 0;
    struct Frame {
        const ProcessList* list;
        std::size_t next;
        bool insideKept;  // a descendant of a process the filter concerns: kept without looking
    };
    std::vector<Frame> stack{{&roots, 0, false}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.list->size()) {
            stack.pop_back();
            continue;
        }
        const ProcessRecord* process = (*top.list)[top.next++];
        ++total_;
        const bool kept = top.insideKept || Matches(*process);
        if (kept) {
            kept_.insert(process);
            // Every kept process has its ancestors kept already, so the climb stops at the first.
            for (const ProcessRecord* a = process->parent; a != nullptr && kept_.insert(a).second;
                 a = a->parent) {
            }
        }
        if (!process->children.empty()) {
            stack.push_back({&process->children, 0, kept});
        }
    }
}

std::string FilterStatusText(const TreeFilter& filter) {
    char text[64];
    std::snprintf(text, sizeof(text), "筛选 %zu/%zu", filter.KeptCount(), filter.TotalCount());
    return text;
}
