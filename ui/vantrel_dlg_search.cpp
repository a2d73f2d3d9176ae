// The main window's side of the search window: opening it, and showing a hit in the tree and the
// behaviour list.
#include "ui/vantrel_dlg.h"

#include <algorithm>
#include <vector>

void CVantrelDlg::ShowSearchWindow() {
    if (!searchWindow) {
        searchWindow = std::make_unique<CSearchWindow>(
            analyzer, [this](const BehaviorHit& hit) { JumpToHit(hit); });
        searchWindow->showOnlyProcesses = [this](std::vector<const ProcessRecord*> processes,
                                                 std::string label) {
            ShowOnlyProcesses(std::move(processes), std::move(label));
        };
    }
    searchWindow->ShowFront(hwnd_);
}

bool CVantrelDlg::JumpToHit(const BehaviorHit& hit) {
    const HWND list = treeList.Handle();
    int row = -1;
    BehaviorSequence* behaviors = nullptr;
    int position = -1;
    {
        const auto store = analyzer.Store().Read();
        std::vector<ProcessRecord*> chain;
        for (ProcessRecord* p = hit.process; p != nullptr; p = p->parent) {
            chain.push_back(p);
        }
        std::reverse(chain.begin(), chain.end());
        // Each process's row comes after its parent's; a folded ancestor is unfolded on the way.
        std::size_t from = 0;
        for (ProcessRecord* p : chain) {
            int found = -1;
            for (std::size_t i = from; i < treeList.rows.size(); ++i) {
                if (static_cast<uint32_t>(treeList.rows[i].id) == p->id) {
                    found = static_cast<int>(i);
                    break;
                }
            }
            if (found < 0) {
                return false;  // not in the rows yet: the next rebuild brings it
            }
            if (p != hit.process && treeList.rows[static_cast<std::size_t>(found)].expandState ==
                                        ExpandState::kCollapsed) {
                UnfoldRow(treeList.rows, static_cast<std::size_t>(found), *p, icons_,
                          filter_ ? &filter_->Kept() : nullptr);
                keptFolds_.erase(static_cast<int32_t>(p->id));  // the rows were made again
            }
            from = static_cast<std::size_t>(found) + 1;
            row = found;
        }
        behaviors = &hit.process->behaviors;
        // By identity, not position: the analyst may have sorted the list since the search.
        for (std::size_t i = 0; i < behaviors->size(); ++i) {
            if ((*behaviors)[i].Identity() == hit.behavior.Identity()) {
                position = static_cast<int>(i);
                break;
            }
        }
    }
    ListView_SetItemCountEx(list, static_cast<int>(treeList.rows.size()), LVSICF_NOSCROLL);
    treeList.SelectOnly(row);
    ListView_EnsureVisible(list, row, FALSE);
    ChooseBehaviors(behaviors);
    if (position >= 0) {
        const HWND lower = behaviorList.Handle();
        ListView_SetItemState(lower, position, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        ListView_SetSelectionMark(lower, position);
        ListView_EnsureVisible(lower, position, FALSE);
    }
    ::SetForegroundWindow(hwnd_);
    ::SetActiveWindow(hwnd_);
    return true;
}
