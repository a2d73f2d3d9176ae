// The process tree: rows rebuilt from the store after each pass, cell texts on request, folding and
// unfolding by the box in front of a row, and the choice of the process the lower list shows.
#include "ui/vantrel_dlg.h"

#include "engine/text.h"
#include "win/text.h"

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// What the user was looking at before a rebuild, by process id, so that a refreshed log does not
// move the selection or the view to other processes.
struct ViewOfRows {
    std::vector<int32_t> selectedIds;
    int32_t focusId = 0;
    bool hasFocus = false;
    int32_t topId = 0;
    bool hasTop = false;
    // Rows the user folded; kept folded only while following, where rebuilds come by themselves.
    std::unordered_set<int32_t> foldedIds;
};

ViewOfRows RememberView(HWND list, const std::vector<ProcessRow>& rows, bool keepFolds) {
    ViewOfRows view;
    if (keepFolds) {
        for (const ProcessRow& row : rows) {
            if (row.expandState == ExpandState::kCollapsed) {
                view.foldedIds.insert(row.id);
            }
        }
    }
    const auto count = static_cast<int>(rows.size());
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0 && i < count;
         i = ListView_GetNextItem(list, i, LVNI_SELECTED)) {
        view.selectedIds.push_back(rows[static_cast<std::size_t>(i)].id);
    }
    const int focus = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    if (focus >= 0 && focus < count) {
        view.focusId = rows[static_cast<std::size_t>(focus)].id;
        view.hasFocus = true;
    }
    const int top = ListView_GetTopIndex(list);
    if (count > 0 && top >= 0 && top < count) {
        view.topId = rows[static_cast<std::size_t>(top)].id;
        view.hasTop = true;
    }
    return view;
}

void RestoreView(HWND list, const std::vector<ProcessRow>& rows, const ViewOfRows& view) {
    if (rows.empty()) {
        return;
    }
    // One pass over the rows finds every wanted id.
    std::unordered_map<int32_t, int> wanted;
    for (int32_t id : view.selectedIds) {
        wanted.emplace(id, -1);
    }
    if (view.hasFocus) {
        wanted.emplace(view.focusId, -1);
    }
    if (view.hasTop) {
        wanted.emplace(view.topId, -1);
    }
    std::size_t found = 0;
    for (std::size_t i = 0; i < rows.size() && found < wanted.size(); ++i) {
        const auto it = wanted.find(rows[i].id);
        if (it != wanted.end() && it->second < 0) {
            it->second = static_cast<int>(i);
            ++found;
        }
    }
    for (int32_t id : view.selectedIds) {
        if (const int row = wanted[id]; row >= 0) {
            ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
        }
    }
    if (view.hasFocus) {
        if (const int row = wanted[view.focusId]; row >= 0) {
            ListView_SetItemState(list, row, LVIS_FOCUSED, LVIS_FOCUSED);
            ListView_SetSelectionMark(list, row);
        }
    }
    if (view.hasTop) {
        const int row = wanted[view.topId];
        const int top = ListView_GetTopIndex(list);
        RECT bounds{};
        bounds.left = LVIR_BOUNDS;
        if (row >= 0 && row != top &&
            ::SendMessageA(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&bounds)) != 0) {
            ListView_Scroll(list, 0, (row - top) * (bounds.bottom - bounds.top));
        }
    }
}

// Rows made under the store's lock get their icons once the lock is released: the shell may
// take its time, and the follower must not wait for it. Until then a row's icon index is
// kIconPending - k, where k is the number of the first path of its type in `paths`.
constexpr int kIconPending = -2;

IconIndexCache PendingIcons(std::vector<std::string>& paths) {
    return IconIndexCache([&paths](const std::string& imagePath) {
        paths.push_back(imagePath);
        return kIconPending - static_cast<int>(paths.size() - 1);
    });
}

}  // namespace

void CVantrelDlg::ResolveIcons(std::size_t first, std::size_t last,
                               const std::vector<std::string>& paths) {
    std::vector<int> indexes;
    indexes.reserve(paths.size());
    for (const std::string& path : paths) {
        indexes.push_back(icons_.IndexFor(path));
    }
    for (std::size_t i = first; i < last && i < treeList.rows.size(); ++i) {
        ProcessRow& row = treeList.rows[i];
        const auto k = static_cast<std::size_t>(kIconPending - row.iconIndex);
        if (row.iconIndex <= kIconPending && k < indexes.size()) {
            row.iconIndex = indexes[k];
        }
    }
}

LRESULT CVantrelDlg::RebuildTree() {
    RebuildRows(false);
    return 0;
}

void CVantrelDlg::RebuildRows(bool duringPass) {
    // A window on its way out does not rebuild: the refresh may have been sent just before.
    if (refreshStop.load() != 0 || treeList.Handle() == nullptr) {
        return;
    }
    const HWND list = treeList.Handle();
    // The behaviour list keeps its process through the rebuild: the store is not cleared here, and
    // the focus row comes back by id below. Rebuilds during a pass keep the folds, and so does the
    // one at its end after them: the analyst may have folded rows while the log was being read.
    const bool keepFolds = autoRefresh_ || duringPass || rowsDuringPass_;
    rowsDuringPass_ = duringPass;
    const ViewOfRows view = RememberView(list, treeList.rows, keepFolds);
    // Deleting the items is the cheap way to drop every selection and the focus, which item by
    // item would cost a notification per row of a big list.
    treeList.Send(LVM_DELETEALLITEMS);
    treeList.rows.clear();
    keptFolds_.clear();
    std::vector<std::string> iconPaths;
    IconIndexCache pending = PendingIcons(iconPaths);
    const auto foldAsBefore = [&](const ProcessStore::Reader& store) {
        // From the last row up, so that folding a row moves none of the rows still to be looked at.
        for (std::size_t i = treeList.rows.size(); i-- > 0 && !view.foldedIds.empty();) {
            const ProcessRow& row = treeList.rows[i];
            if (row.expandState == ExpandState::kExpanded && view.foldedIds.count(row.id) != 0) {
                if (ProcessRecord* record = store.FindProcess(static_cast<uint32_t>(row.id))) {
                    FoldRow(treeList.rows, i, *record);
                }
            }
        }
    };
    if (!duringPass) {
        const auto store = analyzer.Store().Read();
        const ProcessList roots = store.SnapshotRoots();
        if (filter_) {
            filter_->Update(roots);  // processes that arrived and match come in
        }
        ::AppendSubtreeRows(treeList.rows, 0, roots, pending, filter_ ? &filter_->Kept() : nullptr);
        foldAsBefore(store);
    } else {
        // The whole tree at once would keep the follower waiting for the lock far too long with a
        // big log: the rows are made in pieces, the parser going on between two. Nothing but this
        // thread clears the store, so the records stay.
        const ProcessList* roots = nullptr;
        {
            const auto store = analyzer.Store().Read();
            roots = &store.roots();
            if (filter_) {
                filter_->Update(store.SnapshotRoots());
            }
        }
        SubtreeRowMaker maker(treeList.rows, *roots, pending, filter_ ? &filter_->Kept() : nullptr);
        for (;;) {
            maker.MakeRoom();
            // Whoever waits for the lock (the follower) gets it first: the lock is not fair, and a
            // yield alone would let this thread take it again before the woken one runs.
            analyzer.Store().LetWaitersIn(kRowPieceTime * 4);
            const auto store = analyzer.Store().Read();
            if (maker.Continue(SubtreeRowMaker::Clock::now() + kRowPieceTime)) {
                foldAsBefore(store);
                break;
            }
        }
    }
    ResolveIcons(0, treeList.rows.size(), iconPaths);
    ListView_SetItemCountEx(list, static_cast<int>(treeList.rows.size()), 0);
    RestoreView(list, treeList.rows, view);
    ShowFocusedBehaviors();
    if (statusBar) {
        statusBar.SetPaneText(0, RowCountText());
    }
    linesAtRebuild_ = analyzer.Counts().lines;
    // Whoever waits for a rebuild waits for a pass's end (or a filter's), not for its rows so far.
    if (duringPass) {
        ++passRebuildCount_;
    } else {
        ++rebuildCount;
    }
}

int32_t CVantrelDlg::AppendSubtreeRows(int index, const ProcessList& list) {
    std::vector<std::string> iconPaths;
    IconIndexCache pending = PendingIcons(iconPaths);
    const int32_t added =
        ::AppendSubtreeRows(treeList.rows, static_cast<std::size_t>(index), list, pending);
    ResolveIcons(static_cast<std::size_t>(index), static_cast<std::size_t>(index + added),
                 iconPaths);
    return added;
}

std::string CVantrelDlg::TreeCellText(int item, int subItem) const {
    if (item < 0 || static_cast<std::size_t>(item) >= treeList.rows.size()) {
        return {};
    }
    const ProcessRow& row = treeList.rows[static_cast<std::size_t>(item)];
    switch (subItem) {
        case 0:
            return row.name;
        case 1:
            return std::to_string(row.pid);
        case 2:
            return std::to_string(row.ppid);
        case 3:
            return row.imagePath;
        case 4:
            return row.commandLine;
        case 5:
            return std::to_string(static_cast<unsigned>(row.state));
        case 6:
            return std::to_string(row.descendantCount);
        case 7:
            return row.startTime;
        case 8:
            return row.handling;
        case 9:
            return std::to_string(row.id);
        default:
            return {};
    }
}

win::MessageWindow::Result CVantrelDlg::OnTreeDisplayText(NMLVDISPINFOA& info) {
    LVITEMA& item = info.item;
    if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        CopyToBuffer(item.pszText, static_cast<std::size_t>(item.cchTextMax),
                     TreeCellText(item.iItem, item.iSubItem));
    }
    return 0;
}

win::MessageWindow::Result CVantrelDlg::OnTreeDisplayTextW(NMLVDISPINFOW& info) {
    LVITEMW& item = info.item;
    if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        const std::string text = TreeCellText(item.iItem, item.iSubItem);
        const int written = ::MultiByteToWideChar(win::kTextCodePage, 0, text.c_str(), -1,
                                                  item.pszText, item.cchTextMax);
        if (written == 0) {
            item.pszText[item.cchTextMax - 1] = L'\0';  // too long: cut, still terminated
        }
    }
    return 0;
}

ProcessRecord* CVantrelDlg::RecordOfRow(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= treeList.rows.size()) {
        return nullptr;
    }
    const auto id = static_cast<uint32_t>(treeList.rows[static_cast<std::size_t>(row)].id);
    return analyzer.Store().FindProcess(id);
}

ProcessRecord* CVantrelDlg::SelectedRecord() {
    // The focus row and the selected count are kept by the list; only a selection without the
    // focus row in it needs a search for its first row.
    const HWND list = treeList.Handle();
    if (ListView_GetSelectedCount(list) == 0) {
        return nullptr;
    }
    const int focus = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    if (focus >= 0 && ListView_GetItemState(list, focus, LVIS_SELECTED) != 0) {
        return RecordOfRow(focus);
    }
    return RecordOfRow(ListView_GetNextItem(list, -1, LVNI_SELECTED));
}

win::MessageWindow::Result CVantrelDlg::OnTreeItemChanged(const NMLISTVIEW& change) {
    // Item -1 stands for every row (the list was emptied or all rows changed at once).
    const bool focusMoved =
        change.iItem < 0 || ((change.uChanged & LVIF_STATE) != 0 &&
                             ((change.uOldState ^ change.uNewState) & LVIS_FOCUSED) != 0);
    if (focusMoved) {
        ::SetTimer(hwnd_, kFollowFocusTimer, kFollowFocusDelayMs, nullptr);
        // The user moved on from the last hit of the search: the next search starts at the view.
        const bool gained = change.iItem >= 0 && (change.uNewState & LVIS_FOCUSED) != 0;
        if (gained && static_cast<std::size_t>(change.iItem) < treeList.rows.size() &&
            treeList.rows[static_cast<std::size_t>(change.iItem)].id != findState.lastHitKey) {
            findState.hasLastHit = false;
        }
    }
    return 0;
}

void CVantrelDlg::ChooseBehaviors(BehaviorSequence* behaviors) {
    std::size_t count = 0;
    {
        const auto store = analyzer.Store().Read();
        selectedBehaviors = behaviors;
        count = behaviors != nullptr ? behaviors->size() : 0;
    }
    // A selection by position would point at some other behaviour of the new process.
    behaviorList.Send(LVM_DELETEALLITEMS);
    ListView_SetItemCountEx(behaviorList.Handle(), static_cast<int>(count), 0);
    ShowSortMark();
}

win::MessageWindow::Result CVantrelDlg::OnTreeClick(const NMITEMACTIVATE& click) {
    // The row clicked, which with Ctrl or Shift held need not be the first selected one.
    const int row = click.iItem;
    if (row < 0 || static_cast<std::size_t>(row) >= treeList.rows.size()) {
        return 0;
    }
    const HWND list = treeList.Handle();
    ::LockWindowUpdate(list);

    // Where the list draws the plus or minus box of the row: only its part inside column 0.
    const RECT box = treeList.ExpandBoxRect(row);

    if (::PtInRect(&box, click.ptAction)) {
        const std::size_t rowsBefore = treeList.rows.size();
        std::vector<std::string> iconPaths;
        bool changed = false;
        {
            const auto store = analyzer.Store().Read();
            const ExpandState expandState =
                treeList.rows[static_cast<std::size_t>(row)].expandState;
            ProcessRecord* record = expandState != ExpandState::kNone ? RecordOfRow(row) : nullptr;
            const int32_t id = treeList.rows[static_cast<std::size_t>(row)].id;
            if (record != nullptr && expandState == ExpandState::kExpanded) {
                keptFolds_[id] =
                    FoldRowKeeping(treeList.rows, static_cast<std::size_t>(row), *record);
            } else if (record != nullptr && expandState == ExpandState::kCollapsed &&
                       !UnfoldRowFromKept(treeList.rows, static_cast<std::size_t>(row), *record,
                                          keptFolds_, [this](int32_t processId) {
                                              return analyzer.Store().FindProcess(
                                                  static_cast<uint32_t>(processId));
                                          })) {
                IconIndexCache pending = PendingIcons(iconPaths);
                UnfoldRow(treeList.rows, static_cast<std::size_t>(row), *record, pending,
                          filter_ ? &filter_->Kept() : nullptr);
            }
            changed = record != nullptr;
        }
        if (changed) {
            // The unfolded rows follow the row; their icons are looked up without the lock.
            const auto first = static_cast<std::size_t>(row) + 1;
            if (treeList.rows.size() > rowsBefore) {
                ResolveIcons(first, first + treeList.rows.size() - rowsBefore, iconPaths);
            }
            ListView_SetItemCountEx(list, static_cast<int>(treeList.rows.size()), LVSICF_NOSCROLL);
        }
    } else {
        BehaviorSequence* behaviors = nullptr;
        {
            const auto store = analyzer.Store().Read();
            if (ProcessRecord* record = RecordOfRow(row)) {
                behaviors = &record->behaviors;
            }
        }
        if (behaviors != nullptr) {
            ChooseBehaviors(behaviors);
        }
    }
    ::LockWindowUpdate(nullptr);
    return 0;
}
