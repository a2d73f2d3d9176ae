// The main window's start-up, layout, painting, About box and shutdown, and the message routing.
#include "ui/vantrel_dlg.h"

#include "res/resource.h"
#include "tools/signer.h"
#include "ui/folder_launch.h"
#include "win/text.h"

#include <shellapi.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kWindowWidth = 1020;
constexpr int kWindowHeight = 600;
constexpr UINT kStatusBarId = 0xE801;
constexpr DWORD kStatusBarStyle = WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP;
constexpr int kStatusBarHeight = 20;
// At the default size the lower list and the status bar take the bottom 200 pixels; the splitter
// lies over the first 5 pixel rows of the lower list. Sizes are at 96 DPI.
constexpr int kLowerHeight = 200;
constexpr int kSplitterHeight = 5;
constexpr int kRowHeight = 24;
// Each list keeps its header and this many rows, whatever the window's size or the splitter's
// place.
constexpr int kMinPaneRows = 3;
constexpr int kMinWindowWidth = 300;
constexpr int kStatusCountWidth = 100;

struct Column {
    const char* title;
    int width;
};
constexpr Column kTreeColumns[] = {
    {"进程名", 200}, {"PID", 50},      {"PPID", 50},     {"映像路径", 260}, {"命令行", 180},
    {"状态", 50},    {"子进程数", 80}, {"启动时间", 80}, {"处理", 50},      {"编号", 0},
};
constexpr int kTreeColumnCount = static_cast<int>(std::size(kTreeColumns));
// Room for the box and icon in front of column 0, on top of the columns' widths.
constexpr int kTreeWidthExtra = 42;
constexpr Column kBehaviorColumns[] = {{"时间", 120}, {"行为", 100}, {"处理", 80}, {"信息", 100}};
// The longest time a log writes (milliseconds included): the time column is made wide enough for it
// in the list's own font, with the list's margins around the text.
constexpr char kWidestTime[] = "2024-12-28 20:28:28.888";
constexpr int kCellMargins = 16;
// Room for the vertical scroll bar and the borders next to the three fixed columns.
constexpr int kBehaviorSpare = 40;

const std::wstring kCaptionW = win::Wide(kMainWindowCaption);

class CAboutDlg : public win::Dialog {
  public:
    CAboutDlg() : Dialog(IDD_ABOUTBOX) {}
};

int IconIndexOfType(const std::string& imagePath) {
    // By type only: the file itself is never touched, so a path of another machine costs nothing.
    SHFILEINFOA info{};
    if (::SHGetFileInfoA(imagePath.c_str(), 0, &info, sizeof(info),
                         SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES) == 0) {
        return 0;
    }
    return info.iIcon;
}

// The window asks the platform who signed a loaded module unless a test stands in for it.
AnalyzerSeams WithModuleSigner(AnalyzerSeams seams) {
    if (!seams.signer) {
        seams.signer = MakeModuleSignerLookup();
    }
    return seams;
}

}  // namespace

CVantrelDlg::CVantrelDlg(MainWindowSeams seams)
    : Dialog(IDD_VANTREL_DIALOG),
      analyzer(WithModuleSigner(std::move(seams.analyzer))),
      launch_(std::move(seams.launch)),
      icons_(seams.iconLookup ? std::move(seams.iconLookup)
                              : IconIndexCache::Lookup(IconIndexOfType)),
      filterMatchPause_(std::move(seams.filterMatchPause)),
      exportDialog_(std::move(seams.exportDialog)),
      exportPause_(std::move(seams.exportPause)) {
    if (!launch_) {
        launch_ = LaunchWithoutRedirection;
    }
    if (!exportDialog_) {
        exportDialog_ = [this](const ExportOffer& offer) { return ShowExportDialog(hwnd_, offer); };
    }
    icon = ::LoadIconW(::GetModuleHandleA(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
    refreshThread.Reset(::CreateThread(nullptr, 0, RefreshThreadMain, this, 0, nullptr));
}

CVantrelDlg::~CVantrelDlg() {
    // The window goes first, while every member it uses still exists; its WM_DESTROY stops the
    // refresh thread. A window that never existed leaves that to here.
    if (Handle() != nullptr) {
        ::DestroyWindow(Handle());
    }
    StopRefreshThread();
    CancelFilterMatch();
    selectedBehaviors = nullptr;
}

DWORD WINAPI CVantrelDlg::RefreshThreadMain(void* self) {
    static_cast<CVantrelDlg*>(self)->RefreshLoop();
    return 0;
}

void CVantrelDlg::RefreshLoop() {
    while (refreshStop.load() == 0) {
        analyzer.WaitForPassEnd();
        if (refreshStop.load() != 0) {
            break;
        }
        analyzer.ResetPassEnded();
        if (const HWND target = refreshTarget_.load()) {
            ::SendMessageA(target, WM_REFRESH_TREE, 0, 0);
        }
    }
}

void CVantrelDlg::StopRefreshThread() {
    if (!refreshThread) {
        return;
    }
    refreshTarget_ = nullptr;
    refreshStop = 1;
    analyzer.SignalPassEnded();
    // The thread may be inside a send to this window: answer sent messages while waiting, or both
    // threads would wait for each other. A refresh that arrives now is answered without a rebuild.
    const HANDLE thread = refreshThread.Get();
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    refreshThread.Reset();
}

bool CVantrelDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    treeList.Attach(Item(IDC_TREE_LIST).Handle());
    behaviorList = Item(IDC_BEHAVIOR_LIST);
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);

    if (const HMENU systemMenu = ::GetSystemMenu(hwnd_, FALSE)) {
        char about[256] = {};
        if (::LoadStringA(instance, IDS_ABOUTBOX, about, sizeof(about)) > 0 && about[0] != '\0') {
            ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    Send(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    Send(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    Show(SW_SHOWNORMAL);

    // Files dragged from programs of lower integrity may be dropped on an elevated window too.
    ::ChangeWindowMessageFilter(WM_DROPFILES, MSGFLT_ADD);
    ::ChangeWindowMessageFilter(0x0049, MSGFLT_ADD);  // WM_COPYGLOBALDATA, which carries the drop
    ::DragAcceptFiles(hwnd_, TRUE);

    splitter.horizontal = true;
    splitter.Create(WS_CHILD | WS_VISIBLE, RECT{}, hwnd_, IDC_SPLITTER);
    splitter.SetPanes(treeList.Handle(), behaviorList.Handle());

    dpi = win::WindowDpi(hwnd_);
    fontDpi_ = dpi;  // the dialog's font was made for the DPI the window starts at
    SetUpTreeList();
    SetUpBehaviorList();
    SetUpStatusBar();

    ::SetWindowTextW(hwnd_, kCaptionW.c_str());
    const int width = std::min(Px(kWindowWidth), ::GetSystemMetrics(SM_CXSCREEN));
    const int height = std::min(Px(kWindowHeight), ::GetSystemMetrics(SM_CYSCREEN));
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    ::SetWindowPos(hwnd_, nullptr, x, y, width, height, SWP_NOZORDER);
    Show(SW_SHOW);

    ::SetMenu(hwnd_, ::LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MENU_MAIN)));
    accelerators_ = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ::DrawMenuBar(hwnd_);
    ::DragAcceptFiles(hwnd_, TRUE);
    // The default place of the splitter, for the client area the menu left, becomes its share.
    splitterShare = -1.0;
    const RECT client = ClientRect();
    Layout(client.right, client.bottom);

    refreshTarget_ = hwnd_;
    return true;
}

void CVantrelDlg::SetUpTreeList() {
    const HWND list = treeList.Handle();
    if (list == nullptr) {
        return;
    }
    treeWidthTotal = 0;
    treeList.dpi = dpi;
    treeList.header.dpi = dpi;
    for (int i = 0; i < kTreeColumnCount; ++i) {
        treeList.InsertColumn(i, kTreeColumns[i].title, Px(kTreeColumns[i].width));
        treeWidthTotal += kTreeColumns[i].width;
    }
    treeWidthTotal += kTreeWidthExtra;

    // The system's image lists are shared by the whole process: the list must not destroy them.
    treeList.SetStyle(treeList.Style() | LVS_SHAREIMAGELISTS);
    ListView_SetImageList(list, treeList.largeImageList, LVSIL_NORMAL);
    ListView_SetImageList(list, treeList.smallImageList, LVSIL_SMALL);
    const DWORD extended = ListView_GetExtendedListViewStyle(list);
    ListView_SetExtendedListViewStyle(
        list, (extended & ~DWORD{LVS_EX_CHECKBOXES | LVS_EX_SUBITEMIMAGES}) | LVS_EX_GRIDLINES |
                  LVS_EX_FULLROWSELECT);

    // The list asks for its row height again only when its size changes.
    treeList.rowHeight = Px(kRowHeight);
    const RECT outer = treeList.WindowRect();
    WINDOWPOS position{list,
                       nullptr,
                       0,
                       0,
                       outer.right - outer.left,
                       outer.bottom - outer.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER};
    treeList.Send(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&position));

    RECT place = ClientRect();
    place.bottom -= 60;
    treeList.Move(place, true);
}

int CVantrelDlg::BehaviorColumnWidth(int column) {
    const int width = Px(kBehaviorColumns[column].width);
    if (column != 0) {
        return width;
    }
    // Measured in the list's own font, which is already the one for the window's DPI.
    const int timeWidth = static_cast<int>(behaviorList.Send(
                              LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(kWidestTime))) +
                          Px(kCellMargins);
    return std::max(width, timeWidth);
}

void CVantrelDlg::SetUpBehaviorList() {
    const HWND list = behaviorList.Handle();
    if (list == nullptr) {
        return;
    }
    behaviorFixedWidth_ = Px(kBehaviorSpare);
    for (int i = 0; i < static_cast<int>(std::size(kBehaviorColumns)); ++i) {
        std::wstring title = win::Wide(kBehaviorColumns[i].title);
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = BehaviorColumnWidth(i);
        if (i < 3) {
            behaviorFixedWidth_ += column.cx;
        }
        column.pszText = title.data();
        behaviorList.Send(LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                          reinterpret_cast<LPARAM>(&column));
    }
    ListView_SetExtendedListViewStyle(
        list, ListView_GetExtendedListViewStyle(list) | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    const RECT client = ClientRect();
    behaviorList.Move(0, client.bottom - 20 - 160, client.right, 160, true);
    splitter.Move(0, client.bottom - 220, client.right, kSplitterHeight, true);
}

void CVantrelDlg::SetUpStatusBar() {
    if (!statusBar.Create(hwnd_, kStatusBarStyle, kStatusBarId)) {
        return;  // the window works without it: every update checks that it exists
    }
    const UINT indicators[] = {IDS_COUNT, IDS_STATUS};
    if (!statusBar.SetIndicators(indicators, 2)) {
        return;
    }
    const RECT client = ClientRect();
    statusBar.SetPaneInfo(1, kPaneNoBorders | kPaneStretch, client.right - 10);
    statusBar.Move(0, client.bottom - Px(kStatusBarHeight), client.right, Px(kStatusBarHeight),
                   true);
}

int CVantrelDlg::MinPaneHeight() const {
    int header = Px(kRowHeight);
    if (const HWND headerWindow = ListView_GetHeader(treeList.Handle())) {
        RECT r{};
        ::GetWindowRect(headerWindow, &r);
        header = std::max<int>(header, r.bottom - r.top);
    }
    const int border = 2 * ::GetSystemMetrics(SM_CYBORDER);
    return header + kMinPaneRows * Px(kRowHeight) + border;
}

void CVantrelDlg::Layout(int cx, int cy) {
    const int statusHeight = Px(kStatusBarHeight);
    const int panes = std::max(cy - statusHeight, 0);
    const int minPane = MinPaneHeight();
    if (splitterShare < 0.0 && panes > 0) {
        splitterShare = static_cast<double>(panes - Px(kLowerHeight - kStatusBarHeight)) / panes;
    }
    int top = static_cast<int>(std::lround(std::max(splitterShare, 0.0) * panes));
    // Each list keeps its minimum; a window too small for both (maximised on a tiny screen, say)
    // shares what there is equally.
    top = panes - minPane >= minPane ? std::clamp(top, minPane, panes - minPane) : panes / 2;

    if (treeList.Handle() != nullptr) {
        treeList.Move(1, 0, std::max(cx - 2, 0), top, true);
        if (treeWidthTotal > 0) {
            // Every column keeps its share of the total, so the hidden column stays 0 wide.
            for (int i = 0; i < kTreeColumnCount; ++i) {
                const double share = static_cast<double>(kTreeColumns[i].width) / treeWidthTotal;
                const auto width = static_cast<uint16_t>(static_cast<int32_t>(share * cx));
                ListView_SetColumnWidth(treeList.Handle(), i, width);
            }
        }
    }
    if (behaviorList.Handle() != nullptr) {
        behaviorList.Move(1, top, std::max(cx - 2, 0), panes - top, true);
        // A window narrower than the three fixed columns leaves the last one empty, not a
        // wrapped-around width of 65,000 pixels.
        ListView_SetColumnWidth(behaviorList.Handle(), 3, std::max(cx - behaviorFixedWidth_, 0));
    }
    if (splitter.Handle() != nullptr) {
        splitter.Move(1, top, std::max(cx - 2, 0), Px(kSplitterHeight), true);
    }
    if (statusBar) {
        statusBar.SetPaneInfo(0, kPaneStretch, Px(kStatusCountWidth));
        statusBar.SetPaneInfo(1, kPaneNoBorders | kPaneStretch, cx - 10);
        statusBar.Move(0, cy - statusHeight, cx, statusHeight, true);
    }
    // The window erases its whole client area on a resize, children included (it does not clip
    // them, so the splitter's drag band can cross the lists): every child paints itself again.
    ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CVantrelDlg::OnSplitterMoved() {
    const RECT client = ClientRect();
    const int panes = std::max<int>(client.bottom - Px(kStatusBarHeight), 0);
    if (panes > 0 && splitter.Handle() != nullptr) {
        // The place the lists' minimums allow, not a place past them that only a later, taller
        // window would show.
        const int minPane = MinPaneHeight();
        int top = splitter.WindowRectIn(hwnd_).top;
        top = panes - minPane >= minPane ? std::clamp(top, minPane, panes - minPane) : panes / 2;
        splitterShare = static_cast<double>(top) / panes;
    }
    Layout(client.right, client.bottom);
}

void CVantrelDlg::OnGetMinMaxInfo(MINMAXINFO& info) const {
    RECT least{0, 0, Px(kMinWindowWidth), 2 * MinPaneHeight() + Px(kStatusBarHeight)};
    const auto style = static_cast<DWORD>(Style());
    const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrA(hwnd_, GWL_EXSTYLE));
    ::AdjustWindowRectEx(&least, style, ::GetMenu(hwnd_) != nullptr ? TRUE : FALSE, exStyle);
    info.ptMinTrackSize.x = std::max<LONG>(info.ptMinTrackSize.x, least.right - least.left);
    info.ptMinTrackSize.y = std::max<LONG>(info.ptMinTrackSize.y, least.bottom - least.top);
}

void CVantrelDlg::ApplyDpi(int newDpi) {
    if (newDpi <= 0) {
        return;
    }
    dpi = newDpi;
    // The lists' font was made for another DPI: a copy of it at this one.
    if (dpi != fontDpi_ && treeList.Handle() != nullptr) {
        const auto current = reinterpret_cast<HFONT>(treeList.Send(WM_GETFONT));
        LOGFONTW face{};
        if (current != nullptr && ::GetObjectW(current, sizeof(face), &face) != 0) {
            face.lfHeight = ::MulDiv(face.lfHeight, dpi, fontDpi_);
            win::Font font(::CreateFontIndirectW(&face));
            if (font) {
                for (const HWND control :
                     {treeList.Handle(), behaviorList.Handle(), statusBar.Handle()}) {
                    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
                }
                listFont_ = std::move(font);
                fontDpi_ = dpi;
            }
        }
    }
    treeList.dpi = dpi;
    treeList.header.dpi = dpi;
    treeList.rowHeight = Px(kRowHeight);
    if (const HWND list = treeList.Handle()) {
        // The list asks for the row height again only when its size changes.
        const RECT outer = treeList.WindowRect();
        WINDOWPOS position{list,
                           nullptr,
                           0,
                           0,
                           outer.right - outer.left,
                           outer.bottom - outer.top,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER};
        treeList.Send(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&position));
    }
    if (behaviorList.Handle() != nullptr) {
        behaviorFixedWidth_ = Px(kBehaviorSpare);
        for (int i = 0; i < 3; ++i) {
            const int width = BehaviorColumnWidth(i);
            ListView_SetColumnWidth(behaviorList.Handle(), i, width);
            behaviorFixedWidth_ += width;
        }
    }
    const RECT client = ClientRect();
    Layout(client.right, client.bottom);
}

win::MessageWindow::Result CVantrelDlg::OnSize(UINT type, SIZE size) {
    if (type != SIZE_MINIMIZED) {
        Layout(size.cx, size.cy);
    }
    return {};
}

void CVantrelDlg::PaintMinimised() {
    win::PaintDc dc(hwnd_);
    Send(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);
    const RECT client = ClientRect();
    const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc.Get(), x, y, icon);
}

win::MessageWindow::Result CVantrelDlg::OnPaint() {
    if (!::IsIconic(hwnd_)) {
        return {};
    }
    PaintMinimised();
    return 0;
}

win::MessageWindow::Result CVantrelDlg::OnDestroy() {
    ::KillTimer(hwnd_, kProgressTimer);
    ::KillTimer(hwnd_, kHeldLineTimer);
    ::KillTimer(hwnd_, kFollowFocusTimer);
    ::KillTimer(hwnd_, kPassRowsTimer);
    CancelExport();
    CancelFilterMatch();
    StopRefreshThread();
    return {};
}

win::MessageWindow::Result CVantrelDlg::OnNotify(NMHDR* notice) {
    if (treeList.Handle() != nullptr && notice->hwndFrom == treeList.Handle()) {
        switch (notice->code) {
            case NM_CLICK:
                return OnTreeClick(*reinterpret_cast<NMITEMACTIVATE*>(notice));
            case NM_DBLCLK:
                return 0;  // the list swallows double clicks; nothing to do if one comes anyway
            case NM_RCLICK:
                // The right click moved the focus: the menu's commands act beside its behaviours.
                ShowFocusedBehaviors();
                ShowContextMenu();
                return 0;
            case LVN_ITEMCHANGED:
                return OnTreeItemChanged(*reinterpret_cast<NMLISTVIEW*>(notice));
            case LVN_GETDISPINFOA:
                return OnTreeDisplayText(*reinterpret_cast<NMLVDISPINFOA*>(notice));
            case LVN_GETDISPINFOW:
                return OnTreeDisplayTextW(*reinterpret_cast<NMLVDISPINFOW*>(notice));
            default:
                return {};
        }
    }
    if (behaviorList.Handle() != nullptr && notice->hwndFrom == behaviorList.Handle()) {
        switch (notice->code) {
            case NM_DBLCLK:
                return OnBehaviorDoubleClick();
            case LVN_COLUMNCLICK:
                return OnBehaviorColumnClick(reinterpret_cast<NMLISTVIEW*>(notice)->iSubItem);
            case LVN_GETDISPINFOA:
                return OnBehaviorDisplayText(*reinterpret_cast<NMLVDISPINFOA*>(notice));
            case LVN_GETDISPINFOW:
                return OnBehaviorDisplayTextW(*reinterpret_cast<NMLVDISPINFOW*>(notice));
            default:
                return {};
        }
    }
    return {};
}

win::MessageWindow::Result CVantrelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                CAboutDlg about;
                about.DoModal(hwnd_);
                return 0;
            }
            return {};
        case WM_QUERYDRAGICON:
            return reinterpret_cast<LRESULT>(icon);
        case WM_REFRESH_TREE: {
            ++passesEnded_;
            if (analyzer.LogRestarted()) {
                RestartFollowedLog();
                return 0;
            }
            const LRESULT result = RebuildTree();
            ArmHeldLineWake();
            return result;
        }
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_SHOW_FIND:
            ShowFindDialog();
            return 0;
        case WM_EXPORT_PROGRESS:
            OnExportProgress(wParam);
            return 0;
        case WM_EXPORT_DONE:
            OnExportDone(wParam);
            return 0;
        case WM_FILTER_MATCHED:
            OnFilterMatched(wParam);
            return 0;
        case WM_SPLITTER_MOVED:
            OnSplitterMoved();
            return 0;
        case WM_GETMINMAXINFO:
            OnGetMinMaxInfo(*reinterpret_cast<MINMAXINFO*>(lParam));
            return 0;
        case WM_DPICHANGED: {
            // The system proposes the window's rectangle at the new DPI.
            const auto* proposed = reinterpret_cast<const RECT*>(lParam);
            ApplyDpi(HIWORD(wParam));
            ::SetWindowPos(hwnd_, nullptr, proposed->left, proposed->top,
                           proposed->right - proposed->left, proposed->bottom - proposed->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            return {};
    }
}
