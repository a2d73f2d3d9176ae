// The filter of the process tree: its dialog, putting it in force and taking it away, and how the
// window shows that one is in force (status pane 0, the caption, the menu's "取消筛选").
#include "ui/vantrel_dlg.h"

#include "res/resource.h"
#include "ui/filter_dialog.h"
#include "win/text.h"

void CVantrelDlg::ShowFilterDialog() {
    CFilterDialog dialog;
    if (filter_ && !filter_->ByProcesses()) {
        dialog.pattern = filter_->Label();  // to be changed, not typed again
        dialog.matchCase = filter_->MatchCase();
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
    filter_ = std::move(filter);
    // The rows change from the store as it is now; the selection and the view follow by process.
    RebuildTree();
    ShowFilterState();
}

void CVantrelDlg::FilterStoreClearing(bool otherLog) {
    if (!filter_) {
        return;
    }
    if (otherLog || filter_->ByProcesses()) {
        filter_.reset();
    } else {
        filter_->StoreClearing();
    }
    ShowFilterState();
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
        statusBar.SetPaneText(
            0, filter_ ? FilterStatusText(*filter_) : std::to_string(treeList.rows.size()));
    }
    if (const HMENU menu = ::GetMenu(hwnd_)) {
        ::EnableMenuItem(menu, ID_CLEAR_FILTER, MF_BYCOMMAND | (filter_ ? MF_ENABLED : MF_GRAYED));
    }
}
