// The filter of the process tree: its dialog, putting it in force and taking it away, and how the
// window shows that one is in force (status pane 0, the caption, the menu's "取消筛选").
#include "ui/vantrel_dlg.h"

#include "engine/behavior_search.h"
#include "res/resource.h"
#include "ui/filter_dialog.h"
#include "win/text.h"

namespace {

// Well under the 10 ms the follower and the window may wait for the store's lock, also when the
// searching thread loses its processor in the middle of a piece (as the search window's pieces).
constexpr auto kFilterMatchSlice = std::chrono::milliseconds(2);

}  // namespace

void CVantrelDlg::ShowFilterDialog() {
    CFilterDialog dialog;
    const TreeFilter* shown = matchingFilter_ ? matchingFilter_.get() : filter_.get();
    if (shown != nullptr && !shown->ByProcesses()) {
        dialog.pattern = shown->Label();  // to be changed, not typed again
        dialog.matchCase = shown->MatchCase();
    }
    if (dialog.DoModal(hwnd_) != IDOK) {
        return;
    }
    SetFilter(std::make_unique<TreeFilter>(SearchPattern(dialog.pattern, dialog.matchCase)));
}

void CVantrelDlg::ShowOnlyProcesses(std::vector<const ProcessRecord*> processes,
                                    std::string label) {
    SetFilter(std::make_unique<TreeFilter>(std::move(processes), std::move(label)));
}

void CVantrelDlg::SetFilter(std::unique_ptr<TreeFilter> filter) {
    CancelFilterMatch();
    if (filter && !filter->ByProcesses()) {
        // A million behaviours take seconds to search: the window goes on meanwhile.
        StartFilterMatch(std::move(filter));
        ShowFilterState();
        return;
    }
    filter_ = std::move(filter);
    // The rows change from the store as it is now; the selection and the view follow by process.
    RebuildTree();
    ShowFilterState();
}

void CVantrelDlg::StartFilterMatch(std::unique_ptr<TreeFilter> filter) {
    matchingFilter_ = std::move(filter);
    filterMatchCancel_ = false;
    filterMatchFound_.clear();
    const uint64_t serial = ++filterMatchSerial_;
    const HWND target = hwnd_;
    filterMatchThread_ = std::thread(
        [this, serial, target, query = matchingFilter_->BehaviorMatchQuery()]() mutable {
            const bool done = SearchFilterBehaviors(analyzer, std::move(query), kFilterMatchSlice,
                                                    filterMatchCancel_, filterMatchFound_, [this] {
                                                        if (filterMatchPause_) {
                                                            filterMatchPause_(filterMatchCancel_);
                                                        }
                                                    });
            if (done) {
                ::PostMessageA(target, WM_FILTER_MATCHED, static_cast<WPARAM>(serial), 0);
            }
        });
}

void CVantrelDlg::OnFilterMatched(WPARAM serial) {
    if (!matchingFilter_ || static_cast<uint64_t>(serial) != filterMatchSerial_ ||
        !filterMatchThread_.joinable()) {
        return;  // a search dropped since it posted
    }
    filterMatchThread_.join();
    matchingFilter_->TakeSearched(filterMatchFound_);
    filterMatchFound_ = {};
    filter_ = std::move(matchingFilter_);
    // Names, paths and command lines are looked at here, and behaviours that came since searched.
    RebuildTree();
    ShowFilterState();
}

void CVantrelDlg::CancelFilterMatch() {
    if (filterMatchThread_.joinable()) {
        // The thread looks at the flag every few hundred behaviours, and never waits for this one.
        filterMatchCancel_ = true;
        filterMatchThread_.join();
    }
    ++filterMatchSerial_;
    matchingFilter_.reset();
    filterMatchFound_ = {};
}

void CVantrelDlg::FilterStoreClearing(bool otherLog) {
    // The search's report points into the store. The same log started anew gets its new filter
    // all the same: the search starts again once the store is cleared (ResumeFilterMatch).
    restartedMatch_.reset();
    if (matchingFilter_) {
        std::unique_ptr<TreeFilter> waiting = otherLog ? nullptr : std::move(matchingFilter_);
        CancelFilterMatch();
        restartedMatch_ = std::move(waiting);
    }
    if (!filter_) {
        ShowFilterState();
        return;
    }
    if (otherLog || filter_->ByProcesses()) {
        filter_.reset();
    } else {
        filter_->StoreClearing();
    }
    ShowFilterState();
}

void CVantrelDlg::ResumeFilterMatch() {
    if (restartedMatch_) {
        StartFilterMatch(std::move(restartedMatch_));
        ShowFilterState();
    }
}

std::string CVantrelDlg::RowCountText() const {
    if (matchingFilter_) {
        return "正在筛选...";
    }
    return filter_ ? FilterStatusText(*filter_) : std::to_string(treeList.rows.size());
}

void CVantrelDlg::ShowFilterState() {
    if (hwnd_ == nullptr) {
        return;
    }
    std::wstring caption = win::Wide(kMainWindowCaption);
    if (filter_) {
        caption += win::Wide(" - 筛选：") + win::Wide(filter_->Label());
    }
    ::SetWindowTextW(hwnd_, caption.c_str());
    if (statusBar) {
        statusBar.SetPaneText(0, RowCountText());
    }
    if (const HMENU menu = ::GetMenu(hwnd_)) {
        // It also drops a filter whose search is under way.
        ::EnableMenuItem(menu, ID_CLEAR_FILTER,
                         MF_BYCOMMAND | (filter_ || matchingFilter_ ? MF_ENABLED : MF_GRAYED));
    }
}
