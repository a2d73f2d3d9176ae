// The behaviour list: the chosen process's behaviours read from the store for the visible rows,
// the column sort, which reorders them in the store, and the copy of a behaviour's full text.
#include "ui/vantrel_dlg.h"

#include "engine/behavior_sort.h"
#include "engine/text.h"
#include "ui/clipboard.h"

#include <string>
#include <string_view>
#include <vector>

std::string CVantrelDlg::BehaviorCellText(int item, int subItem) {
    // The follower may be appending to the same sequence, which can move nothing of it but its
    // size: read under the lock anyway, as every other reader of the store does.
    const auto store = analyzer.Store().Read();
    if (selectedBehaviors == nullptr || item < 0 ||
        static_cast<std::size_t>(item) >= selectedBehaviors->size()) {
        return {};
    }
    const BehaviorRecord& behavior = (*selectedBehaviors)[static_cast<std::size_t>(item)];
    switch (subItem) {
        case 0:
            return std::string(behavior.time());
        case 1:
            return std::string(behavior.action());
        case 2:
            return std::string(behavior.handling());
        case 3:
            return std::string(behavior.info());
        default:
            return {};
    }
}

win::MessageWindow::Result CVantrelDlg::OnBehaviorDisplayText(NMLVDISPINFOA& info) {
    LVITEMA& item = info.item;
    if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        CopyToBuffer(item.pszText, static_cast<std::size_t>(item.cchTextMax),
                     BehaviorCellText(item.iItem, item.iSubItem));
    }
    return 0;
}

win::MessageWindow::Result CVantrelDlg::OnBehaviorDisplayTextW(NMLVDISPINFOW& info) {
    LVITEMW& item = info.item;
    if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        const std::string text = BehaviorCellText(item.iItem, item.iSubItem);
        if (::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, item.pszText, item.cchTextMax) ==
            0) {
            item.pszText[item.cchTextMax - 1] = L'\0';
        }
    }
    return 0;
}

win::MessageWindow::Result CVantrelDlg::OnBehaviorDoubleClick() {
    const int selected = ListView_GetNextItem(behaviorList.Handle(), -1, LVNI_SELECTED);
    if (selected < 0) {
        return 0;
    }
    std::string detail;
    {
        const auto store = analyzer.Store().Read();
        if (selectedBehaviors == nullptr ||
            static_cast<std::size_t>(selected) >= selectedBehaviors->size()) {
            return 0;
        }
        detail = (*selectedBehaviors)[static_cast<std::size_t>(selected)].detail();
    }
    CopyTextToClipboard(detail);
    ShowMessage("此条行为信息己复制到剪切板");
    return 0;
}

win::MessageWindow::Result CVantrelDlg::OnBehaviorColumnClick(int column) {
    if (selectedBehaviors == nullptr) {
        return 0;
    }
    sortAscending = !sortAscending;
    // Sorted off the lock: a million behaviours would otherwise stop the follower for a second.
    SortBehaviorsOffLock(analyzer.Store(), selectedBehaviors, column, sortAscending);
    sortMarks_[selectedBehaviors] = SortMark{column, sortAscending};
    ShowSortMark();
    behaviorList.Invalidate(true);
    return 0;
}

void CVantrelDlg::ShowSortMark() {
    const HWND header = ListView_GetHeader(behaviorList.Handle());
    if (header == nullptr) {
        return;
    }
    SortMark mark;
    if (const auto it = sortMarks_.find(selectedBehaviors);
        selectedBehaviors != nullptr && it != sortMarks_.end()) {
        mark = it->second;
    }
    const int columns = Header_GetItemCount(header);
    for (int i = 0; i < columns; ++i) {
        HDITEMA item{};
        item.mask = HDI_FORMAT;
        if (::SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(&item)) == 0) {
            continue;
        }
        int format = item.fmt & ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == mark.column) {
            format |= mark.ascending ? HDF_SORTUP : HDF_SORTDOWN;
        }
        if (format != item.fmt) {
            item.fmt = format;
            ::SendMessageA(header, HDM_SETITEMA, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(&item));
        }
    }
}

void CVantrelDlg::ShowFocusedBehaviors() {
    ::KillTimer(hwnd_, kFollowFocusTimer);
    const HWND tree = treeList.Handle();
    if (tree == nullptr) {
        return;
    }
    const int focus = ListView_GetNextItem(tree, -1, LVNI_FOCUSED);
    BehaviorSequence* behaviors = nullptr;
    std::size_t count = 0;
    {
        const auto store = analyzer.Store().Read();
        if (ProcessRecord* record = RecordOfRow(focus)) {
            behaviors = &record->behaviors;
            count = behaviors->size();
        }
    }
    if (behaviors != nullptr && behaviors == selectedBehaviors) {
        // The process shown already: only what the log added since, and the list keeps its place.
        const HWND list = behaviorList.Handle();
        const int shown = ListView_GetItemCount(list);
        if (static_cast<std::size_t>(shown) != count) {
            // While following, a list scrolled to its last row keeps showing the newest rows.
            const bool atBottom =
                autoRefresh_ && shown > 0 &&
                ListView_GetTopIndex(list) + ListView_GetCountPerPage(list) >= shown;
            ListView_SetItemCountEx(list, static_cast<int>(count),
                                    LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
            if (atBottom && count > 0) {
                ListView_EnsureVisible(list, static_cast<int>(count) - 1, FALSE);
            }
            behaviorList.Invalidate(true);
        }
        return;
    }
    ChooseBehaviors(behaviors);
}

void CVantrelDlg::DropBehaviorList() {
    {
        const auto store = analyzer.Store().Read();
        selectedBehaviors = nullptr;
    }
    sortMarks_.clear();
    behaviorList.Send(LVM_DELETEALLITEMS);
    ShowSortMark();
}

namespace {

// A cell of the copied text: its own tabs and line breaks would start another cell or row where it
// is pasted. Neither byte occurs inside a double-byte character of code page 936.
void AppendCell(std::string& text, std::string_view cell) {
    for (const char c : cell) {
        text += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
    }
}

}  // namespace

void CVantrelDlg::CopySelectedBehaviors() {
    const HWND list = behaviorList.Handle();
    std::vector<int> rows;
    for (int i = ListView_GetNextItem(list, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(list, i, LVNI_SELECTED)) {
        rows.push_back(i);
    }
    if (rows.empty()) {
        return;
    }
    std::string text;
    {
        const auto store = analyzer.Store().Read();
        for (const int row : rows) {
            if (selectedBehaviors == nullptr ||
                static_cast<std::size_t>(row) >= selectedBehaviors->size()) {
                break;
            }
            for (int column = 0; column < 4; ++column) {
                if (column > 0) {
                    text += '\t';
                }
                AppendCell(text, BehaviorCellText(row, column));
            }
            text += "\r\n";
        }
    }
    if (!text.empty()) {
        CopyTextToClipboard(text);
    }
}

void CVantrelDlg::SelectAllBehaviors() {
    ListView_SetItemState(behaviorList.Handle(), -1, LVIS_SELECTED, LVIS_SELECTED);
}
