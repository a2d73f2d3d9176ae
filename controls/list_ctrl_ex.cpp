#include "controls/list_ctrl_ex.h"

#include "res/resource.h"
#include "win/text.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr COLORREF kStripeEven = RGB(240, 254, 229);
constexpr COLORREF kStripeOdd = RGB(255, 255, 255);
constexpr COLORREF kMarkedText = RGB(255, 102, 51);
constexpr COLORREF kMarkedHandling = RGB(255, 85, 0);
constexpr COLORREF kFocusBar = RGB(191, 225, 128);
constexpr int kHandlingColumn = 8;
// The descendant count: a folded row that hides unusual processes draws it in kMarkedHandling,
// with a "!" after it.
constexpr int kDescendantsColumn = 6;

bool HidesUnusual(const ProcessRow& row) {
    return row.expandState == ExpandState::kCollapsed && row.unusualDescendants > 0;
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
    win::Brush brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &r, brush.Get());
}

HIMAGELIST SystemImageList(UINT flags) {
    SHFILEINFOA info{};
    return reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoA("", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | flags));
}

}  // namespace

CListCtrlEx::CListCtrlEx()
    : smallImageList(SystemImageList(SHGFI_SMALLICON)), largeImageList(SystemImageList(0)) {}

bool CListCtrlEx::Attach(HWND list) {
    if (Handle() != nullptr || !::IsWindow(list)) {
        return false;
    }
    const win::Window view(list);
    // The header is a child of the list: clipping children keeps every row, whatever the list
    // asks to have drawn, out of the header's place.
    view.SetStyle(view.Style() | LVS_OWNERDRAWFIXED | WS_CLIPCHILDREN);
    if (!Subclass(list)) {
        return false;
    }
    if (const HWND headerWindow = ListView_GetHeader(list)) {
        header.Attach(headerWindow);
    }
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    plusBox_.Reset(::LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_PLUS)));
    minusBox_.Reset(::LoadBitmapW(instance, MAKEINTRESOURCEW(IDB_MINUS)));
    CreateTooltip();
    return true;
}

void CListCtrlEx::CreateTooltip() {
    tooltip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0, 0, 0, hwnd_, nullptr,
                                ::GetModuleHandleA(nullptr), nullptr);
    if (tooltip == nullptr) {
        return;
    }
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    // It lies over the cell it tells of: clicks and the wheel go through it to the list.
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_TRANSPARENT;
    tool.hwnd = hwnd_;
    tool.uId = 1;
    tool.lpszText = const_cast<wchar_t*>(L"");
    ::SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // Long paths and command lines wrap instead of running off the screen.
    ::SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, Px(600));
}

void CListCtrlEx::HideTooltip() {
    if (tooltip == nullptr || tipItem < 0) {
        return;
    }
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = hwnd_;
    tool.uId = 1;
    ::SendMessageW(tooltip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
    tipItem = -1;
    tipColumn = -1;
}

RECT CListCtrlEx::Column0Rect(int row) const {
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    if (Send(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds)) == 0) {
        return RECT{};
    }
    const auto width = static_cast<LONG>(Send(LVM_GETCOLUMNWIDTH, 0));
    return RECT{bounds.left, bounds.top, bounds.left + width, bounds.bottom};
}

SIZE CListCtrlEx::IconSize() const {
    int cx = Px(16);
    int cy = Px(16);
    if (smallImageList != nullptr) {
        ::ImageList_GetIconSize(smallImageList, &cx, &cy);
    }
    return SIZE{cx, cy};
}

RECT CListCtrlEx::FoldBoxPlace(int row) const {
    RECT label{};
    label.left = LVIR_LABEL;
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size() ||
        Send(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&label)) == 0) {
        return RECT{};
    }
    const int indent = rows[static_cast<std::size_t>(row)].indent * Px(8);
    const int left = label.left + indent - Px(20);
    return RECT{left, label.top + Px(2), left + Px(16), label.bottom - Px(4)};
}

RECT CListCtrlEx::ExpandBoxRect(int row) const {
    const RECT box = FoldBoxPlace(row);
    if (::IsRectEmpty(&box)) {
        return RECT{};
    }
    const RECT column = Column0Rect(row);
    RECT inside{};
    ::IntersectRect(&inside, &box, &column);
    return inside;
}

RECT CListCtrlEx::TextRect(int row, int column) const {
    RECT cell{};
    cell.top = column;
    cell.left = LVIR_LABEL;
    if (Send(LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell)) == 0) {
        return RECT{};
    }
    if (column == 0 && row >= 0 && static_cast<std::size_t>(row) < rows.size()) {
        const int indent = rows[static_cast<std::size_t>(row)].indent * Px(8);
        cell.left += indent + Px(6) + IconSize().cx;
        cell.right = std::min(cell.right, Column0Rect(row).right);
    } else {
        cell.left += 1;
    }
    cell.right -= 1;
    return cell;
}

bool CListCtrlEx::CellIsCut(int row, int column) const {
    const RECT place = TextRect(row, column);
    const std::string text = ItemText(row, column);
    if (text.empty()) {
        return false;
    }
    const HDC dc = ::GetDC(hwnd_);
    if (dc == nullptr) {
        return false;
    }
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(Send(WM_GETFONT)));
    const SIZE size = win::TextExtent936(dc, text);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd_, dc);
    return size.cx > place.right - place.left;
}

bool CListCtrlEx::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
    return CreateEx(0, style, rect, parent, id);
}

bool CListCtrlEx::CreateEx(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, UINT id) {
    const HWND list = ::CreateWindowExA(exStyle, WC_LISTVIEWA, "", style, rect.left, rect.top,
                                        rect.right - rect.left, rect.bottom - rect.top, parent,
                                        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                        ::GetModuleHandleA(nullptr), nullptr);
    return list != nullptr && Attach(list);
}

int CListCtrlEx::InsertColumn(int index, const char* title, int width) {
    std::string text = title != nullptr ? title : "";
    std::wstring wide = win::Wide(text);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = wide.data();
    const int result = static_cast<int>(
        Send(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)));
    // The header paints titles by position, so the title goes where the column went.
    if (result >= 0) {
        const auto at = static_cast<std::size_t>(result);
        header.titles.insert(
            header.titles.begin() + static_cast<std::ptrdiff_t>(std::min(at, header.titles.size())),
            std::move(text));
    }
    return result;
}

int CListCtrlEx::InsertRow(int index, const ProcessRow& row) {
    if (index < 0 || static_cast<std::size_t>(index) > rows.size()) {
        return -1;
    }
    rows.insert(rows.begin() + index, row);
    return 0;
}

std::string CListCtrlEx::ItemText(int item, int subItem) const {
    std::vector<char> buffer(256);
    for (;;) {
        LVITEMA request{};
        request.iSubItem = subItem;
        request.pszText = buffer.data();
        request.cchTextMax = static_cast<int>(buffer.size());
        const auto length = static_cast<std::size_t>(
            Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&request)));
        // A cut never splits a double-byte character, so a text cut before one ends two bytes
        // short of the buffer's end: only a text with room for two more bytes is surely whole.
        if (length + 2 < buffer.size() || buffer.size() >= 65536) {
            return std::string(request.pszText != nullptr ? request.pszText : "");
        }
        buffer.resize(buffer.size() * 2);
    }
}

void CListCtrlEx::DrawItem(const DRAWITEMSTRUCT& draw) {
    // The owner keeps the item count equal to the rows; an item outside them has nothing to show.
    if (draw.itemID >= rows.size()) {
        return;
    }
    const int i = static_cast<int>(draw.itemID);
    const ProcessRow& row = rows[draw.itemID];
    const HDC dc = draw.hDC;
    const RECT& bounds = draw.rcItem;
    const bool ordinary = IsOrdinaryHandling(row.handling);

    LVITEMA state{};
    state.mask = LVIF_STATE;
    state.iItem = i;
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&state));
    const bool highlighted = (state.state & LVIS_SELECTED) != 0 &&
                             (::GetFocus() == hwnd_ || (Style() & LVS_SHOWSELALWAYS) != 0);

    ::SetBkMode(dc, TRANSPARENT);
    if (highlighted) {
        ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHTTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_HIGHLIGHT));
        Fill(dc, bounds, ::GetSysColor(COLOR_HIGHLIGHT));
    } else if (row.backColor != 0 && row.textColor != 0) {
        ::SetTextColor(dc, row.textColor);
        Fill(dc, bounds, row.backColor);
    } else {
        ::SetTextColor(dc, ordinary ? RGB(0, 0, 0) : kMarkedText);
        Fill(dc, bounds, i % 2 == 0 ? kStripeEven : kStripeOdd);
    }

    if (Send(LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_FOCUSED) != 0) {
        Fill(dc, bounds, kStripeEven);
        const RECT bar{bounds.left + 1, bounds.top + 2, bounds.right - 1, bounds.bottom - 2};
        Fill(dc, bar, kFocusBar);
        ::SetTextColor(dc, RGB(0, 0, 0));
    }

    // Column 0 holds the box, the icon and the name; however deep the row, none of them may reach
    // into the columns after it.
    const RECT column0 = Column0Rect(i);
    if ((draw.itemAction & ODA_DRAWENTIRE) != 0) {
        const int columns =
            header.Handle() != nullptr ? static_cast<int>(header.Send(HDM_GETITEMCOUNT)) : 0;
        for (int k = 0; k < columns; ++k) {
            RECT cell = TextRect(i, k);
            if (cell.bottom <= cell.top) {
                continue;  // the list has no such cell
            }
            if (k == kHandlingColumn) {
                // Stays for the columns after it.
                ::SetTextColor(dc, ordinary ? RGB(0, 0, 0) : kMarkedHandling);
            }
            if (cell.right <= cell.left) {
                continue;
            }
            if (k == kDescendantsColumn && HidesUnusual(row)) {
                // Whatever the row's own colours: a fold must never hide an alert.
                const COLORREF before = ::SetTextColor(dc, kMarkedHandling);
                win::DrawText936(dc, ItemText(i, k) + "!", cell,
                                 DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
                ::SetTextColor(dc, before);
                continue;
            }
            win::DrawText936(dc, ItemText(i, k), cell, DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        }
    }

    RECT label{};
    label.left = LVIR_LABEL;
    const bool haveLabel =
        Send(LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&label)) != 0;
    if (!haveLabel || column0.right <= column0.left) {
        return;
    }
    const int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, column0.left, column0.top, column0.right, column0.bottom);
    const int indent = row.indent * Px(8);
    if (row.iconIndex >= 0 && smallImageList != nullptr) {
        // The image list's own size: the system's small icons grow with the DPI.
        const SIZE icon = IconSize();
        const int top = label.top + (label.bottom - label.top - icon.cy) / 2;
        ::ImageList_DrawEx(smallImageList, row.iconIndex, dc, label.left + indent + Px(2), top,
                           icon.cx, icon.cy, CLR_NONE, CLR_NONE, ILD_TRANSPARENT);
    }
    if (row.expandState != ExpandState::kNone) {
        const HBITMAP picture =
            row.expandState == ExpandState::kCollapsed ? plusBox_.Get() : minusBox_.Get();
        BITMAP size{};
        if (picture != nullptr && ::GetObjectA(picture, sizeof(size), &size) != 0) {
            const int left = label.left + indent - Px(18);
            const int top = label.top + Px(4);
            win::MemoryDc source(::CreateCompatibleDC(dc));
            win::SelectGuard selected(source.Get(), picture);
            ::StretchBlt(dc, left, top, Px(size.bmWidth), Px(size.bmHeight), source.Get(), 0, 0,
                         size.bmWidth, size.bmHeight, SRCCOPY);
        }
    }
    ::RestoreDC(dc, saved);
}

void CListCtrlEx::MeasureItem(MEASUREITEMSTRUCT& measure) const {
    if (rowHeight > 0) {
        measure.itemHeight = static_cast<UINT>(rowHeight);
    }
}

win::MessageWindow::Result CListCtrlEx::OnReflectedDrawItem(DRAWITEMSTRUCT* draw) {
    DrawItem(*draw);
    return TRUE;
}

win::MessageWindow::Result CListCtrlEx::OnReflectedMeasureItem(MEASUREITEMSTRUCT* measure) {
    MeasureItem(*measure);
    return TRUE;
}

// A click on a column title reaches nobody: the list is not sortable.
win::MessageWindow::Result CListCtrlEx::OnReflectedNotify(NMHDR* notice) {
    if (notice->code == LVN_COLUMNCLICK) {
        return 0;
    }
    return {};
}

std::vector<int> CListCtrlEx::SelectedRows() const {
    const auto count = static_cast<std::size_t>(Send(LVM_GETSELECTEDCOUNT));
    std::vector<int> rowsFound;
    if (count == 0) {
        return rowsFound;
    }
    const auto selected = [&](int row) {
        return row >= 0 && Send(LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) != 0 &&
               std::find(rowsFound.begin(), rowsFound.end(), row) == rowsFound.end();
    };
    // A plain key or click leaves one row selected, the focus row, which the list keeps.
    for (const auto row : {static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                 MAKELPARAM(LVNI_FOCUSED, 0))),
                           static_cast<int>(Send(LVM_GETSELECTIONMARK))}) {
        if (selected(row)) {
            rowsFound.push_back(row);
        }
    }
    // A few rows chosen with Ctrl or Shift: the list's own search is cheap beside a round trip
    // per row.
    constexpr std::size_t kMostRowsSought = 64;
    if (rowsFound.size() < count && count <= kMostRowsSought) {
        rowsFound.clear();
        for (int row = static_cast<int>(
                 Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
             row >= 0 && rowsFound.size() < count;
             row = static_cast<int>(
                 Send(LVM_GETNEXTITEM, static_cast<WPARAM>(row), MAKELPARAM(LVNI_SELECTED, 0)))) {
            rowsFound.push_back(row);
        }
    }
    if (rowsFound.size() < count) {
        rowsFound.clear();  // too many to drop one by one: the list clears them itself
    }
    return rowsFound;
}

void CListCtrlEx::SetRowsSelected(const std::vector<int>& rows, bool selected) {
    LVITEMA state{};
    state.state = selected ? LVIS_SELECTED : 0;
    state.stateMask = LVIS_SELECTED;
    for (const int row : rows) {
        Send(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    }
}

std::vector<int> CListCtrlEx::DropSelection() {
    std::vector<int> dropped = SelectedRows();
    SetRowsSelected(dropped, false);
    return dropped;
}

void CListCtrlEx::SelectOnly(int row) {
    const auto selected = static_cast<std::size_t>(Send(LVM_GETSELECTEDCOUNT));
    if (DropSelection().size() < selected) {
        LVITEMA none{};
        none.stateMask = LVIS_SELECTED;
        Send(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    }
    LVITEMA chosen{};
    chosen.stateMask = chosen.state = LVIS_SELECTED | LVIS_FOCUSED;
    Send(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&chosen));
    Send(LVM_SETSELECTIONMARK, 0, row);
}

int CListCtrlEx::RowAt(POINT point) const {
    LVHITTESTINFO hit{};
    hit.pt = point;
    const auto row = static_cast<int>(Send(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return row >= 0 && (hit.flags & LVHT_ONITEM) != 0 ? row : -1;
}

// A plain click on a row selects that row alone.
win::MessageWindow::Result CListCtrlEx::OnLButtonDown(UINT keys, POINT point) {
    if ((keys & (MK_CONTROL | MK_SHIFT)) == 0 && (Style() & LVS_OWNERDATA) != 0 &&
        RowAt(point) >= 0) {
        DropSelection();
    }
    return {};
}

// The second press of a double click: no selection change and no notification.
win::MessageWindow::Result CListCtrlEx::OnLButtonDblClk(UINT, POINT) {
    return 0;
}

win::MessageWindow::Result CListCtrlEx::OnMouseMove(UINT, POINT point) {
    if (tooltip == nullptr) {
        return {};
    }
    LVHITTESTINFO hit{};
    hit.pt = point;
    Send(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    const bool onCell =
        hit.iItem >= 0 && static_cast<std::size_t>(hit.iItem) < rows.size() && hit.iSubItem >= 0;
    if (onCell && hit.iItem == tipItem && hit.iSubItem == tipColumn) {
        return {};
    }
    HideTooltip();
    const bool marker = onCell && hit.iSubItem == kDescendantsColumn &&
                        HidesUnusual(rows[static_cast<std::size_t>(hit.iItem)]);
    if (!onCell || (!marker && !CellIsCut(hit.iItem, hit.iSubItem))) {
        return {};
    }
    std::wstring text;
    if (marker) {
        char says[96];
        std::snprintf(says, sizeof(says), "折叠的子进程中有 %d 个处理异常的进程",
                      rows[static_cast<std::size_t>(hit.iItem)].unusualDescendants);
        text = win::Wide(says);
    } else {
        text = win::Wide(ItemText(hit.iItem, hit.iSubItem));
    }
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.hwnd = hwnd_;
    tool.uId = 1;
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    ::SendMessageW(tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    // Over the cell's text, so the whole text reads on from where the cut one starts.
    const RECT place = TextRect(hit.iItem, hit.iSubItem);
    POINT at{place.left, place.top};
    ::ClientToScreen(hwnd_, &at);
    ::SendMessageW(tooltip, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, at.y));
    ::SendMessageW(tooltip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    tipItem = hit.iItem;
    tipColumn = hit.iSubItem;
    TRACKMOUSEEVENT leave{};
    leave.cbSize = sizeof(leave);
    leave.dwFlags = TME_LEAVE;
    leave.hwndTrack = hwnd_;
    ::TrackMouseEvent(&leave);
    return {};
}

win::MessageWindow::Result CListCtrlEx::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_RBUTTONDOWN: {
            // A right click on an unselected row selects it alone; on a selected one it keeps
            // the selection.
            const int row = RowAt(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            if ((wParam & (MK_CONTROL | MK_SHIFT)) == 0 && (Style() & LVS_OWNERDATA) != 0 &&
                row >= 0 && Send(LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) == 0) {
                DropSelection();
            }
            return {};
        }
        case WM_KEYDOWN: {
            HideTooltip();
            const bool moves = wParam == VK_UP || wParam == VK_DOWN || wParam == VK_PRIOR ||
                               wParam == VK_NEXT || wParam == VK_HOME || wParam == VK_END;
            if (!moves || (Style() & LVS_OWNERDATA) == 0 || (::GetKeyState(VK_CONTROL) < 0) ||
                (::GetKeyState(VK_SHIFT) < 0)) {
                return {};
            }
            const std::vector<int> dropped = DropSelection();
            const LRESULT result = CallDefault();
            // A key that went nowhere (up on the first row) selects nothing: the rows stay.
            if (!dropped.empty() && Send(LVM_GETSELECTEDCOUNT) == 0) {
                SetRowsSelected(dropped, true);
            }
            return result;
        }
        case WM_LIST_REDRAW:
            Invalidate(true);
            return 1;
        case WM_MOUSELEAVE:
        case WM_VSCROLL:
        case WM_HSCROLL:
        case WM_MOUSEWHEEL:
            HideTooltip();
            return {};
        default:
            return {};
    }
}
