// How the analyst drives the main window: the file drop and its progress display, the context
// menu's commands, the menu bar, the find dialog and the keys.
#include "ui/vantrel_dlg.h"

#include "engine/text.h"
#include "res/resource.h"
#include "tools/dlg_hash_tool.h"
#include "ui/clipboard.h"
#include "ui/folder_launch.h"

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kMessageCaption[] = "系统提示：";
constexpr UINT kProgressPeriodMs = 1000;

}  // namespace

void CVantrelDlg::ShowMessage(const char* text) {
    ::MessageBoxA(hwnd_, text, kMessageCaption, MB_OK | MB_ICONINFORMATION);
}

void CVantrelDlg::OnDropFiles(HDROP drop) {
    if (::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0) > 1) {
        ::DragFinish(drop);
        ShowMessage("只能选择一个文件！");
        return;
    }
    // The whole name, however long: a name cut short could be the name of another file.
    const UINT length = ::DragQueryFileA(drop, 0, nullptr, 0);
    std::vector<char> name(static_cast<std::size_t>(length) + 1, '\0');
    const UINT copied = ::DragQueryFileA(drop, 0, name.data(), static_cast<UINT>(name.size()));
    ::DragFinish(drop);
    // Nothing about the name is checked: a folder or a missing file is followed like any other,
    // and its passes read nothing.
    OpenLog(std::string(name.data(), copied));
}

void CVantrelDlg::OpenLog(const std::string& path) {
    bool otherFile = false;
    {
        std::lock_guard store(analyzer.lock);
        otherFile = !EqualsNoCaseMultibyte(path, analyzer.logPath);
    }
    if (otherFile) {
        // The store is cleared for another file: nothing may point into it any more, and the rows
        // of a file no longer followed are not left on screen.
        std::lock_guard tree(treeLock);
        if (searchWindow) {
            searchWindow->StoreClearing();
        }
        DropBehaviorList();
        analyzer.SetLogPath(path);
        RebuildTree();
    } else {
        analyzer.SetLogPath(path);
    }
    analyzer.Wake();
    ::SetTimer(hwnd_, kProgressTimer, kProgressPeriodMs, nullptr);
}

void CVantrelDlg::Refresh() {
    analyzer.Wake();
}

win::MessageWindow::Result CVantrelDlg::OnTimer(UINT_PTR id) {
    if (id != kProgressTimer) {
        return {};
    }
    const double progress = analyzer.progress.load();
    char text[64];
    std::snprintf(text, sizeof(text), "正在分析数据(%.2f)...", progress);
    if (statusBar) {
        statusBar.SetPaneText(1, text);
    }
    if (progress >= 100.0) {
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
    POINT at{};
    ::GetCursorPos(&at);
    ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_LEFTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
}

void CVantrelDlg::CopyProcessName() {
    std::string name;
    {
        std::lock_guard store(analyzer.lock);
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
        std::lock_guard store(analyzer.lock);
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
        std::lock_guard store(analyzer.lock);
        const ProcessRecord* record = SelectedRecord();
        if (record == nullptr) {
            return;
        }
        imagePath = record->imagePath;
    }
    // Whatever happens, nothing is reported: the browser shows its own errors.
    launch_(FolderCommandLine(imagePath));
}

int CVantrelDlg::FindProcessByName(std::string text, int direction) {
    ListViewRows rows(treeList.Handle());
    return ::FindProcessByName(rows, findState, std::move(text), direction);
}

void CVantrelDlg::ShowFindDialog() {
    CDlgFindProcess dialog;
    dialog.mainDialog = this;
    dialog.processName.clear();
    dialog.DoModal(hwnd_);
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
    switch (message.wParam) {
        case VK_RETURN:
            return true;  // never a default button
        case VK_F3: {
            ListViewRows rows(treeList.Handle());
            RepeatLastFind(rows, findState);
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
