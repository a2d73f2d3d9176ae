// Shows the main window's template with the process list, its header, the splitter and the
// behaviour list filled with a small tree, for screenshots. Not a test: it runs until closed, or
// for the number of seconds given as its argument.
#include "controls/list_ctrl_ex.h"
#include "controls/splitter_bar.h"
#include "res/resource.h"
#include "win/dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

class DemoWindow : public win::Dialog {
  public:
    DemoWindow() : Dialog(IDD_VANTREL_DIALOG) {}
    CListCtrlEx treeList;
    CSplitterBar splitter;

  protected:
    bool OnInitDialog() override {
        Dialog::OnInitDialog();
        treeList.Attach(Item(IDC_TREE_LIST).Handle());
        const char* titles[] = {"进程名", "PID",      "PPID",     "映像路径", "命令行",
                                "状态",   "子进程数", "启动时间", "处理",     "编号"};
        const int widths[] = {200, 50, 50, 260, 180, 50, 80, 80, 50, 0};
        for (int i = 0; i < 10; ++i) {
            treeList.InsertColumn(i, titles[i], widths[i]);
        }
        ListView_SetImageList(treeList.Handle(), treeList.smallImageList, LVSIL_SMALL);
        ListView_SetExtendedListViewStyleEx(treeList.Handle(), 0x27, 0x21);
        treeList.rowHeight = 24;
        const RECT r = treeList.WindowRect();
        WINDOWPOS pos{treeList.Handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top, 0x216};
        treeList.Send(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));

        struct Sample {
            const char* name;
            int indent, expand, state;
            const char* handling;
        };
        const Sample samples[] = {
            {"explorer.exe", 0, 1, 1, "system"}, {"cmd.exe", 4, 1, 1, "report"},
            {"conhost.exe", 8, -1, 0, "system"}, {"evil.exe", 8, -1, 0, "kill"},
            {"notepad.exe", 4, -1, 1, "kill"},   {"svchost.exe", 0, 0, 1, "system"}};
        int id = 1;
        for (const Sample& s : samples) {
            ProcessRow row;
            row.name = s.name;
            row.id = id++;
            row.pid = 1000 + row.id * 4;
            row.imagePath = std::string("C:\\Windows\\System32\\") + s.name;
            row.handling = s.handling;
            row.state = static_cast<uint8_t>(s.state);
            row.indent = s.indent;
            row.expandState = static_cast<ExpandState>(s.expand);
            SHFILEINFOA info{};
            ::SHGetFileInfoA(row.imagePath.c_str(), 0, &info, sizeof(info), 0x4010);
            row.iconIndex = info.iIcon;
            if (s.state == 0) {
                const bool ordinary = IsOrdinaryHandling(s.handling);
                row.textColor = ordinary ? RGB(198, 198, 198) : RGB(255, 102, 51);
                row.backColor = RGB(230, 230, 230);
            }
            treeList.InsertRow(static_cast<int>(treeList.rows.size()), row);
        }
        ListView_SetItemCountEx(treeList.Handle(), static_cast<int>(treeList.rows.size()), 0);
        ListView_SetItemState(treeList.Handle(), 1, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);

        const HWND behaviors = Item(IDC_BEHAVIOR_LIST).Handle();
        const char* columns[] = {"时间", "行为", "信息", "处理"};
        for (int i = 0; i < 4; ++i) {
            LVCOLUMNA column{LVCF_WIDTH | LVCF_TEXT,
                             0,
                             i == 2 ? 400 : 100,
                             const_cast<char*>(columns[i]),
                             0,
                             0,
                             0,
                             0,
                             0,
                             0,
                             0};
            ::SendMessageA(behaviors, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
        }
        splitter.horizontal = true;
        splitter.Create(WS_CHILD | WS_VISIBLE, RECT{0, 0, 0, 0}, hwnd_, IDC_SPLITTER);
        splitter.SetPanes(treeList.Handle(), behaviors);
        ::SetWindowTextA(hwnd_, "Tesk为分析器2.1");
        ::SetWindowPos(hwnd_, nullptr, 20, 20, 1020, 600, SWP_NOZORDER);
        ::SetTimer(hwnd_, 1, seconds * 1000, nullptr);
        ::SetTimer(hwnd_, 2, 3000, nullptr);  // a drag of the splitter, held for a screenshot
        ::SetTimer(hwnd_, 3, 8000, nullptr);  // and its drop
        return true;
    }
    Result OnSize(UINT type, SIZE size) override {
        if (type == SIZE_MINIMIZED || treeList.Handle() == nullptr) {
            return {};
        }
        const int cx = size.cx;
        const int cy = size.cy;
        treeList.Move(1, 0, cx - 2, cy - 200, true);
        Item(IDC_BEHAVIOR_LIST).Move(1, cy - 200, cx - 2, 180, true);
        splitter.Move(1, cy - 200, cx - 2, 5, true);
        return 0;
    }
    Result OnTimer(UINT_PTR id) override {
        ::KillTimer(hwnd_, id);
        if (id == 2) {
            splitter.Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 2));
            splitter.Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, -120));
        } else if (id == 3) {
            splitter.Send(WM_LBUTTONUP, 0, MAKELPARAM(300, -120));
        } else {
            EndModal(IDCANCEL);
        }
        return 0;
    }
    Result OnNotify(NMHDR* notice) override {
        if (notice->idFrom != IDC_TREE_LIST || notice->code != LVN_GETDISPINFOA) {
            return {};
        }
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(notice);
        const auto item = static_cast<std::size_t>(info->item.iItem);
        if ((info->item.mask & LVIF_TEXT) == 0 || item >= treeList.rows.size()) {
            return 0;
        }
        const ProcessRow& row = treeList.rows[item];
        std::string text;
        switch (info->item.iSubItem) {
            case 0:
                text = row.name;
                break;
            case 1:
                text = std::to_string(row.pid);
                break;
            case 2:
                text = std::to_string(row.ppid);
                break;
            case 3:
                text = row.imagePath;
                break;
            case 4:
                text = "\"" + row.imagePath + "\" -k netsvcs -p -s Schedule";
                break;
            case 5:
                text = std::to_string(row.state);
                break;
            case 7:
                text = "2026-12-10 04:41:17";
                break;
            case 8:
                text = row.handling;
                break;
            case 9:
                text = std::to_string(row.id);
                break;
            default:
                break;
        }
        ::lstrcpynA(info->item.pszText, text.c_str(), info->item.cchTextMax);
        return 0;
    }

  public:
    int seconds = 30;
};

}  // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX init{sizeof(init), 0xFF};
    ::InitCommonControlsEx(&init);
    DemoWindow window;
    window.seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    window.DoModal(nullptr);
    return 0;
}
