#include "controls/list_ctrl_ex.h"

#include "res/resource.h"

#include <shellapi.h>

#include <vector>

namespace {

constexpr COLORREF kStripeEven = RGB(240, 254, 229);
constexpr COLORREF kStripeOdd = RGB(255, 255, 255);
constexpr COLORREF kMarkedText = RGB(255, 102, 51);
constexpr COLORREF kMarkedHandling = RGB(255, 85, 0);
constexpr COLORREF kFocusBar = RGB(191, 225, 128);
constexpr int kHandlingColumn = 8;

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
    return true;
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

int CListCtrlEx::InsertColumn(int index, const char* title, int, int width, int) {
    std::string text = title != nullptr ? title : "";
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = text.data();
    const int result = static_cast<int>(
        Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)));
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

    if ((draw.itemAction & ODA_DRAWENTIRE) != 0) {
        const int columns =
            header.Handle() != nullptr ? static_cast<int>(header.Send(HDM_GETITEMCOUNT)) : 0;
        for (int k = 0; k < columns; ++k) {
            RECT cell{};
            cell.top = k;
            cell.left = LVIR_LABEL;
            if (Send(LVM_GETSUBITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&cell)) ==
                0) {
                continue;
            }
            const std::string text = ItemText(i, k);
            if (k == 0) {
                cell.left += row.indent * 8 + 22;
            } else {
                if (k == kHandlingColumn) {
                    // Stays for the columns after it.
                    ::SetTextColor(dc, ordinary ? RGB(0, 0, 0) : kMarkedHandling);
                }
                cell.left += 1;
            }
            cell.right -= 1;
            ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &cell,
                        DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        }
    }

    RECT label{};
    label.left = LVIR_LABEL;
    const bool haveLabel =
        Send(LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&label)) != 0;
    if (!haveLabel) {
        return;
    }
    if (row.iconIndex != -1 && smallImageList != nullptr) {
        ::ImageList_DrawEx(smallImageList, row.iconIndex, dc, label.left + row.indent * 8 + 2,
                           label.top + 4, 16, 16, 0, 0, ILD_TRANSPARENT);
    }
    if (row.expandState != -1) {
        const HBITMAP picture = row.expandState == 0 ? plusBox_.Get() : minusBox_.Get();
        BITMAP size{};
        if (picture != nullptr && ::GetObjectA(picture, sizeof(size), &size) != 0) {
            const int left = label.left + row.indent * 8 - 20;
            const int top = label.top + 2;
            win::MemoryDc source(::CreateCompatibleDC(dc));
            win::SelectGuard selected(source.Get(), picture);
            ::BitBlt(dc, left + 2, top + 2, size.bmWidth, size.bmHeight, source.Get(), 0, 0,
                     SRCCOPY);
        }
    }
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

// The second press of a double click: no selection change and no notification.
win::MessageWindow::Result CListCtrlEx::OnLButtonDblClk(UINT, POINT) {
    return 0;
}

win::MessageWindow::Result CListCtrlEx::OnMessage(UINT message, WPARAM, LPARAM) {
    if (message == WM_LIST_REDRAW) {
        Invalidate(true);
        return 1;
    }
    return {};
}
