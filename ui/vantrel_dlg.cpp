// The main window's start-up, layout, painting, About box and shutdown, and the message routing.
#include "ui/vantrel_dlg.h"

#include "res/resource.h"
#include "ui/folder_launch.h"

#include <shellapi.h>

#include <algorithm>

namespace {

constexpr char kCaption[] = "Tesk为分析器2.1";
constexpr int kWindowWidth = 1020;
constexpr int kWindowHeight = 600;
constexpr UINT kStatusBarId = 0xE801;
constexpr DWORD kStatusBarStyle = WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP;
constexpr int kStatusBarHeight = 20;
// The lower list and the status bar take the bottom 200 pixels; the splitter lies over the first
// 5 pixel rows of the lower list.
constexpr int kLowerHeight = 200;
constexpr int kBehaviorListHeight = 180;
constexpr int kSplitterHeight = 5;

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

}  // namespace

CVantrelDlg::CVantrelDlg(MainWindowSeams seams)
    : Dialog(IDD_VANTREL_DIALOG),
      analyzer(std::move(seams.analyzer)),
      launch_(std::move(seams.launch)),
      icons_(IconIndexOfType) {
    if (!launch_) {
        launch_ = LaunchWithoutRedirection;
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
    selectedBehaviors = nullptr;
}

DWORD WINAPI CVantrelDlg::RefreshThreadMain(void* self) {
    static_cast<CVantrelDlg*>(self)->RefreshLoop();
    return 0;
}

void CVantrelDlg::RefreshLoop() {
    while (refreshStop.load() == 0) {
        analyzer.doneEvent.Wait();
        if (refreshStop.load() != 0) {
            break;
        }
        analyzer.doneEvent.Reset();
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
    analyzer.doneEvent.Set();
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

    splitter.horizontal = 1;
    splitter.Create(WS_CHILD | WS_VISIBLE, RECT{}, hwnd_, IDC_SPLITTER);
    splitter.SetPanes(treeList.Handle(), behaviorList.Handle());

    SetUpTreeList();
    SetUpBehaviorList();
    SetUpStatusBar();

    ::SetWindowTextA(hwnd_, kCaption);
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    ::SetWindowPos(hwnd_, nullptr, x, y, kWindowWidth, kWindowHeight, SWP_NOZORDER);
    Show(SW_SHOW);

    ::SetMenu(hwnd_, ::LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MENU_MAIN)));
    ::DrawMenuBar(hwnd_);
    ::DragAcceptFiles(hwnd_, TRUE);

    refreshTarget_ = hwnd_;
    return true;
}

void CVantrelDlg::SetUpTreeList() {
    const HWND list = treeList.Handle();
    if (list == nullptr) {
        return;
    }
    treeWidthTotal = 0;
    for (int i = 0; i < kTreeColumnCount; ++i) {
        treeList.InsertColumn(i, kTreeColumns[i].title, LVCFMT_LEFT, kTreeColumns[i].width, -1);
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
    treeList.rowHeight = 24;
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

void CVantrelDlg::SetUpBehaviorList() {
    const HWND list = behaviorList.Handle();
    if (list == nullptr) {
        return;
    }
    const int timeWidth = static_cast<int>(behaviorList.Send(
                              LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(kWidestTime))) +
                          kCellMargins;
    behaviorFixedWidth_ = kBehaviorSpare;
    for (int i = 0; i < static_cast<int>(std::size(kBehaviorColumns)); ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx =
            i == 0 ? std::max(kBehaviorColumns[i].width, timeWidth) : kBehaviorColumns[i].width;
        if (i < 3) {
            behaviorFixedWidth_ += column.cx;
        }
        column.pszText = const_cast<char*>(kBehaviorColumns[i].title);
        behaviorList.Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
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
    statusBar.Move(0, client.bottom - kStatusBarHeight, client.right, kStatusBarHeight, true);
}

void CVantrelDlg::Layout(int cx, int cy) {
    if (treeList.Handle() != nullptr) {
        treeList.Move(1, 0, std::max(cx - 2, 0), std::max(cy - kLowerHeight, 0), true);
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
        behaviorList.Move(1, cy - kLowerHeight, std::max(cx - 2, 0), kBehaviorListHeight, true);
        // A window narrower than the three fixed columns leaves the last one empty, not a
        // wrapped-around width of 65,000 pixels.
        ListView_SetColumnWidth(behaviorList.Handle(), 3, std::max(cx - behaviorFixedWidth_, 0));
    }
    if (splitter.Handle() != nullptr) {
        splitter.Move(1, cy - kLowerHeight, std::max(cx - 2, 0), kSplitterHeight, true);
    }
    if (statusBar) {
        statusBar.SetPaneInfo(0, kPaneStretch, 100);
        statusBar.SetPaneInfo(1, kPaneNoBorders | kPaneStretch, cx - 10);
        statusBar.Move(0, cy - kStatusBarHeight, cx, kStatusBarHeight, true);
    }
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
    ::KillTimer(hwnd_, kFollowFocusTimer);
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

win::MessageWindow::Result CVantrelDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
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
        case WM_REFRESH_TREE:
            return RebuildTree();
        case WM_DROPFILES:
            OnDropFiles(reinterpret_cast<HDROP>(wParam));
            return 0;
        case WM_SHOW_FIND:
            ShowFindDialog();
            return 0;
        default:
            return {};
    }
}
