#include "ui/dlg_find_process.h"

#include "res/resource.h"

CDlgFindProcess::CDlgFindProcess() : Dialog(IDD_FIND_PROCESS) {}

namespace {

constexpr int kGap = 8;

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// The first place of a `width` x `height` window next to `area` (right, left, below, above) that
// lies within `screen`; false when none does.
bool PlaceNextTo(const RECT& area, int width, int height, const RECT& screen, POINT& place) {
    const int centreX = (area.left + area.right - width) / 2;
    const POINT candidates[] = {
        {area.right + kGap, area.top},
        {area.left - kGap - width, area.top},
        {centreX, area.bottom + kGap},
        {centreX, area.top - kGap - height},
    };
    for (const POINT& at : candidates) {
        const RECT r{at.x, at.y, at.x + width, at.y + height};
        if (Inside(r, screen)) {
            place = at;
            return true;
        }
    }
    return false;
}

}  // namespace

bool CDlgFindProcess::OnInitDialog() {
    Dialog::OnInitDialog();
    if (!::IsRectEmpty(&keepClear)) {
        const RECT own = WindowRect();
        const int width = own.right - own.left;
        const int height = own.bottom - own.top;
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        if (::GetMonitorInfoA(::MonitorFromRect(&keepClear, MONITOR_DEFAULTTONEAREST), &monitor)) {
            const RECT& screen = monitor.rcWork;
            POINT place{};
            if (PlaceNextTo(besideArea, width, height, screen, place) ||
                PlaceNextTo(keepClear, width, height, screen, place)) {
                ::SetWindowPos(hwnd_, nullptr, place.x, place.y, 0, 0,
                               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
    }
    ::SetFocus(Item(IDC_FIND_TEXT).Handle());
    Item(IDC_FIND_DOWN).Send(BM_SETCHECK, BST_CHECKED);
    return false;  // the focus stays in the edit box
}

void CDlgFindProcess::DoDataExchange(win::DataExchange& exchange) {
    exchange.Text(IDC_FIND_TEXT, processName);
}

void CDlgFindProcess::OnOK() {
    if (!UpdateData(true)) {
        return;
    }
    const int direction = Item(IDC_FIND_DOWN).Send(BM_GETCHECK) == BST_CHECKED ? 1 : -1;
    // Two bytes at least: one Chinese character passes, one Latin letter would match far too much.
    // A shorter text is refused as such, not reported as a miss.
    if (processName.size() < 2) {
        ::MessageBoxA(hwnd_, "请至少输入两个字节（一个汉字或两个字母）",
                      "系统提示:", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (mainDialog != nullptr && mainDialog->FindProcessByName(processName, direction) != 0) {
        EndModal(IDOK);
        return;
    }
    ::MessageBoxA(hwnd_, "未找到相关进程", "系统提示:", MB_OK | MB_ICONINFORMATION);
}
