// How the analyst drives the main window: the file drop and its progress display, the context
// menu's commands, the menu bar, the find dialog and the keys.
#include "ui/vantrel_dlg.h"

#include "engine/text.h"
#include "res/resource.h"
#include "ui/dlg_hash_tool.h"
#include "ui/clipboard.h"
#include "ui/folder_launch.h"
#include "win/text.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kMessageCaption[] = "系统提示：";
constexpr UINT kProgressPeriodMs = 1000;
constexpr UINT kAutoRefreshPeriodMs = 1000;

}  // namespace

void CVantrelDlg::ShowMessage(const char* text) {
    ShowMessage(win::Wide(text));
}

void CVantrelDlg::ShowMessage(const std::wstring& text) {
    const std::wstring caption = win::Wide(kMessageCaption);
    ::MessageBoxW(hwnd_, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

void CVantrelDlg::OnDropFiles(HDROP drop) {
    if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) > 1) {
        ::DragFinish(drop);
        ShowMessage("只能选择一个文件！");
        return;
    }
    const std::wstring name = win::DroppedFileName(drop, 0);
    ::DragFinish(drop);

    // A name that cannot be followed leaves the loaded log as it is, and says why.
    const std::wstring prefix = win::Wide("无法打开日志文件：") + name + L"\n";
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        ShowMessage(prefix + win::ErrorMessage(::GetLastError()));
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ShowMessage(prefix + win::Wide("这是一个文件夹，请拖入日志文件。"));
        return;
    }
    const win::FileHandle file(::CreateFileW(
        name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        ShowMessage(prefix + win::ErrorMessage(::GetLastError()));
        return;
    }
    // The engine keeps names as code page 936 bytes: a name it cannot write is followed by its
    // short name.
    const std::optional<std::string> path = win::NarrowPath(name);
    if (!path) {
        ShowMessage(prefix +
                    win::Wide("文件名含有无法用中文代码页表示的字符，且该文件没有短文件名。"));
        return;
    }
    OpenLog(*path);
}

void CVantrelDlg::OpenLog(const std::string& path) {
    const bool otherFile = !EqualsNoCaseMultibyte(path, analyzer.LogPath());
    if (otherFile) {
        // The store is cleared for another file: nothing may point into it any more, and the rows
        // of a file no longer followed are not left on screen.
        CancelExport();
        if (searchWindow) {
            searchWindow->StoreClearing();
        }
        FilterStoreClearing(true);
        DropBehaviorList();
        analyzer.SetLogPath(path);
        RebuildTree();
    } else {
        analyzer.SetLogPath(path);
    }
    // Nothing of the file is read yet: the progress left is the last file's, and the status says
    // so until a pass of this one ends.
    passesAtDrop_ = passesEnded_;
    analyzer.progress = 0.0;
    if (statusBar) {
        statusBar.SetPaneText(1, "正在分析数据(0.00)...");
    }
    heldLineWake_ = 0;
    WakeForPass();
    ::SetTimer(hwnd_, kProgressTimer, kProgressPeriodMs, nullptr);
}

void CVantrelDlg::Refresh() {
    heldLineWake_ = 0;
    WakeForPass();
}

uint64_t CVantrelDlg::WakeForPass() {
    passWake_ = analyzer.Wake();
    // Not started again when it runs: a wake a second (自动刷新) would keep it from ever firing.
    if (!passRowsTimerOn_ && hwnd_ != nullptr) {
        passRowsTimerOn_ = ::SetTimer(hwnd_, kPassRowsTimer, kPassRowsPeriodMs, nullptr) != 0;
    }
    return passWake_;
}

void CVantrelDlg::OnPassRowsTimer() {
    if (analyzer.WakeHandled(passWake_)) {
        // The pass is over: its end rebuilt the rows, or it found nothing to read.
        ::KillTimer(hwnd_, kPassRowsTimer);
        passRowsTimerOn_ = false;
        return;
    }
    // The pass goes on (or is yet to start): the analyst sees what it has read so far, not an empty
    // tree until its end.
    if (analyzer.Counts().lines != linesAtRebuild_) {
        RebuildRows(true);
    }
}

void CVantrelDlg::SetAutoRefresh(bool on) {
    autoRefresh_ = on;
    if (const HMENU menu = ::GetMenu(hwnd_)) {
        ::CheckMenuItem(menu, ID_AUTO_REFRESH, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    }
    if (on) {
        // The analyzer keeps its own spacing between passes, so a wake a second is no burden on a
        // log that grows faster than that.
        ::SetTimer(hwnd_, kAutoRefreshTimer, kAutoRefreshPeriodMs, nullptr);
        WakeForPass();
    } else {
        ::KillTimer(hwnd_, kAutoRefreshTimer);
    }
}

void CVantrelDlg::RestartFollowedLog() {
    CancelExport();
    {
        // Nothing may point into the store when it is cleared; the rows of the earlier log go
        // too, so that no selection or view of its processes is carried over to the new log's
        // processes that happen to have the same ids.
        if (searchWindow) {
            searchWindow->StoreClearing();  // its hits point into the store
        }
        FilterStoreClearing(false);
        DropBehaviorList();
        analyzer.RestartLog();
        RebuildTree();
        ResumeFilterMatch();
    }
    findState.hasLastHit = false;  // a process of the earlier log
    ::KillTimer(hwnd_, kHeldLineTimer);
    heldLineWake_ = 0;
    if (statusBar) {
        statusBar.SetPaneText(1, "日志已重新开始");
    }
    analyzer.Wake();
}

void CVantrelDlg::ArmHeldLineWake() {
    if (heldLineWake_ != 0 || hwnd_ == nullptr) {
        return;
    }
    if (const auto wait = analyzer.HeldLineWait()) {
        // A finished log whose last line has no CR LF would otherwise miss that line until the
        // analyst pressed F5 again. Once per drop or refresh: a log that keeps growing is still
        // read only when asked.
        ::SetTimer(hwnd_, kHeldLineTimer, static_cast<UINT>(wait->count()) + 50, nullptr);
    }
}

bool CVantrelDlg::HeldLineToCome() {
    if (heldLineWake_ != 0) {
        return !analyzer.WakeHandled(heldLineWake_);
    }
    return analyzer.HeldLineWait().has_value();
}

win::MessageWindow::Result CVantrelDlg::OnTimer(UINT_PTR id) {
    if (id == kHeldLineTimer) {
        ::KillTimer(hwnd_, kHeldLineTimer);
        if (heldLineWake_ == 0 && analyzer.HeldLineWait().has_value()) {
            heldLineWake_ = analyzer.Wake();
        }
        return {};
    }
    if (id == kAutoRefreshTimer) {
        WakeForPass();
        return {};
    }
    if (id == kPassRowsTimer) {
        OnPassRowsTimer();
        return {};
    }
    if (id == kFollowFocusTimer) {
        ShowFocusedBehaviors();
        return 0;
    }
    if (id != kProgressTimer) {
        return {};
    }
    if (const LogAnalyzer::LogProblem problem = analyzer.Problem();
        problem != LogAnalyzer::LogProblem::None) {
        ::KillTimer(hwnd_, kProgressTimer);
        if (statusBar) {
            statusBar.SetPaneText(1, problem == LogAnalyzer::LogProblem::NotRegularFile
                                         ? "日志不是普通文件，无法读取!"
                                         : "日志无法继续读取，已读取的数据保留!");
        }
        return {};
    }
    // Complete only once a pass of this file has ended, or there is nothing in it to read.
    bool nothingToRead = false;
    std::string path;
    uint64_t readOffset = 0;
    {
        // One hold, so that the offset is the path's.
        const auto store = analyzer.Store().Read();
        path = analyzer.LogPath();
        readOffset = analyzer.ReadOffset();
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        const uint64_t size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
        nothingToRead = readOffset >= size;
    }
    const bool passEnded = passesEnded_ != passesAtDrop_;
    const double progress = analyzer.progress.load();
    char text[64];
    std::snprintf(text, sizeof(text), "正在分析数据(%.2f)...", progress);
    if (statusBar) {
        statusBar.SetPaneText(1, text);
    }
    if (((passEnded && progress >= 100.0) || nothingToRead) && !HeldLineToCome()) {
        ::KillTimer(hwnd_, kProgressTimer);
        if (statusBar) {
            statusBar.SetPaneText(1, "数据分析完成!");
        }
    }
    return {};
}

void CVantrelDlg::ShowContextMenu() {
    win::Menu menu(::LoadMenuW(::GetModuleHandleA(nullptr), MAKEINTRESOURCEW(IDR_MENU_CONTEXT)));
    const HMENU popup = menu ? ::GetSubMenu(menu.Get(), 1) : nullptr;
    if (popup == nullptr) {
        return;
    }
    // A click below the rows leaves none selected: the commands that act on a process are greyed.
    const UINT state = ListView_GetSelectedCount(treeList.Handle()) == 0 ? MF_GRAYED : MF_ENABLED;
    for (const UINT command : {ID_COPY_NAME, ID_COPY_MD5, ID_OPEN_FOLDER}) {
        ::EnableMenuItem(popup, command, MF_BYCOMMAND | state);
    }
    POINT at{};
    ::GetCursorPos(&at);
    ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
}

void CVantrelDlg::CopyProcessName() {
    std::string name;
    {
        const auto store = analyzer.Store().Read();
        const ProcessRecord* record = SelectedRecord();
        if (record == nullptr) {
            return;
        }
        name = record->name;
    }
    CopyTextToClipboard(name);
    ShowMessage("此进程的名称己复制到剪切板，您可以直接去规则中粘贴使用。");
}

void CVantrelDlg::CopyProcessMd5() {
    std::string md5;
    {
        const auto store = analyzer.Store().Read();
        const ProcessRecord* record = SelectedRecord();
        if (record == nullptr) {
            return;
        }
        md5 = record->md5;
    }
    CopyTextToClipboard(md5);
    ShowMessage("此进程的MD5信息己复制到剪切板，您可以直接去规则中粘贴使用。");
}

void CVantrelDlg::OpenImageFolder() {
    std::string imagePath;
    {
        const auto store = analyzer.Store().Read();
        const ProcessRecord* record = SelectedRecord();
        if (record == nullptr) {
            return;
        }
        imagePath = record->imagePath;
    }
    // Whatever happens, nothing is reported: the browser shows its own errors.
    launch_(FolderCommandLine(imagePath));
}

namespace {

// The process list as the search sees it: names and ids from the window's rows, without a message
// per row; scrolling and selecting through the list.
class ProcessListRows : public ListViewRows {
  public:
    explicit ProcessListRows(CListCtrlEx& list) : ListViewRows(list.Handle()), list_(list) {}

    std::string RowText(int row) const override {
        return row >= 0 && static_cast<std::size_t>(row) < list_.rows.size()
                   ? list_.rows[static_cast<std::size_t>(row)].name
                   : std::string();
    }
    int64_t RowKey(int row) const override {
        return row >= 0 && static_cast<std::size_t>(row) < list_.rows.size()
                   ? list_.rows[static_cast<std::size_t>(row)].id
                   : -1;
    }

    void SelectOnly(int row) override { list_.SelectOnly(row); }

  private:
    CListCtrlEx& list_;
};

// How many rows from the top of the process list the find dialog leaves uncovered at least: a hit
// is brought to the top.
constexpr int kRowsKeptClear = 6;

}  // namespace

int CVantrelDlg::FindProcessByName(std::string text, int direction) {
    ProcessListRows rows(treeList);
    const int found = ::FindProcessByName(rows, findState, std::move(text), direction);
    if (found != 0) {
        ShowFocusedBehaviors();
    }
    return found;
}

void CVantrelDlg::ShowFindDialog() {
    if (findDialog_ != nullptr && findDialog_->Handle() != nullptr) {
        // Already open (a second Ctrl+F came before the first dialog took the keys): bring it
        // forward rather than open another.
        ::SetForegroundWindow(findDialog_->Handle());
        ::SetFocus(findDialog_->Item(IDC_FIND_TEXT).Handle());
        return;
    }
    CDlgFindProcess dialog;
    dialog.mainDialog = this;
    dialog.processName.clear();
    // Beside the list if there is room, and never over its top rows, where a hit appears.
    if (treeList.Handle() != nullptr) {
        dialog.besideArea = treeList.WindowRect();
        dialog.keepClear = dialog.besideArea;
        RECT row{};
        row.left = LVIR_BOUNDS;
        const int rowHeight = treeList.Send(LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row)) != 0
                                  ? row.bottom - row.top
                                  : treeList.rowHeight;
        const RECT rows =
            treeList.header.Handle() != nullptr ? treeList.header.WindowRect() : dialog.besideArea;
        dialog.keepClear.bottom =
            std::min(dialog.besideArea.bottom, rows.bottom + kRowsKeptClear * rowHeight);
    }
    findDialog_ = &dialog;
    dialog.DoModal(hwnd_);
    findDialog_ = nullptr;
}

void CVantrelDlg::ShowHashTool() {
    CDlgHashTool dialog;
    dialog.DoModal(hwnd_);
}

win::MessageWindow::Result CVantrelDlg::OnCommand(UINT id, UINT code, HWND control) {
    switch (id) {
        case ID_REFRESH:
            Refresh();
            return 0;
        case ID_AUTO_REFRESH:
            SetAutoRefresh(!autoRefresh_);
            return 0;
        case ID_EXPORT:
            ExportFromMenu();
            return 0;
        case ID_COPY_NAME:
            CopyProcessName();
            return 0;
        case ID_COPY_MD5:
            CopyProcessMd5();
            return 0;
        case ID_OPEN_FOLDER:
            OpenImageFolder();
            return 0;
        case ID_FIND:
            ShowFindDialog();
            return 0;
        case ID_FEATURE_TOOL:
            ShowHashTool();
            return 0;
        case ID_SEARCH_BEHAVIORS:
            ShowSearchWindow();
            return 0;
        case ID_FILTER_PROCESSES:
            ShowFilterDialog();
            return 0;
        case ID_CLEAR_FILTER:
            SetFilter(nullptr);
            return 0;
        case ID_EXIT:
            ::PostQuitMessage(0);
            return 0;
        default:
            return Dialog::OnCommand(id, code, control);
    }
}

bool CVantrelDlg::PreTranslateMessage(MSG& message) {
    if (searchWindow && searchWindow->TranslateKeys(message)) {
        return true;
    }
    // Keys of this window and its controls only; other windows of the thread keep their own.
    if (message.message != WM_KEYDOWN || hwnd_ == nullptr ||
        (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) {
        return false;
    }
    if (accelerators_ != nullptr && ::TranslateAcceleratorA(hwnd_, accelerators_, &message) != 0) {
        return true;
    }
    if (message.hwnd == behaviorList.Handle() && (::GetKeyState(VK_CONTROL) & 0x8000) != 0) {
        if (message.wParam == 'C') {
            CopySelectedBehaviors();
            return true;
        }
        if (message.wParam == 'A') {
            SelectAllBehaviors();
            return true;
        }
    }
    switch (message.wParam) {
        case VK_RETURN:
            return true;  // never a default button
        case VK_ESCAPE:
            if ((filter_ || FilterMatching()) && message.hwnd == treeList.Handle()) {
                SetFilter(nullptr);
                return true;
            }
            return false;
        case VK_F3: {
            ProcessListRows rows(treeList);
            if (RepeatLastFind(rows, findState) != 0) {
                ShowFocusedBehaviors();
            }
            return false;
        }
        case VK_F5:
            Refresh();
            return true;
        case 'F':
            if ((::GetKeyState(VK_CONTROL) & 0x8000) != 0 &&
                (::GetKeyState(VK_SHIFT) & 0x8000) != 0) {
                Post(WM_COMMAND, ID_SEARCH_BEHAVIORS);
                return true;
            }
            if ((::GetKeyState(VK_CONTROL) & 0x8000) != 0) {
                Post(WM_SHOW_FIND);
            }
            return false;
        default:
            return false;
    }
}
