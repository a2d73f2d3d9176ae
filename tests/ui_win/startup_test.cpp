// The main window as it starts: caption, place, menus, columns, status panes, the layout that
// follows the client size, the About box, and a shutdown that neither hangs nor rebuilds a window
// on its way out.
#include "tests/ui_win/main_window_run.h"

#include "bench/log_generator.h"
#include "res/resource.h"
#include "tests/win/gui_support.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using uitest::MainWindowRun;
using uitest::WaitUntil;

std::string WindowText(HWND hwnd) {
    char text[512] = {};
    ::GetWindowTextA(hwnd, text, sizeof(text));
    return text;
}

std::vector<std::string> ColumnTitles(HWND list) {
    std::vector<std::string> titles;
    const HWND header = reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0));
    const int count = static_cast<int>(::SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = {};
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = sizeof(text);
        ::SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&column));
        titles.push_back(text);
    }
    return titles;
}

int ColumnWidth(HWND list, int column) {
    return static_cast<int>(
        ::SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

std::string MenuText(HMENU menu, int position) {
    char text[64] = {};
    ::GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof(text), MF_BYPOSITION);
    return text;
}

// A child's rectangle in its parent's client coordinates.
RECT PlaceOf(HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

RECT Rect(int x, int y, int width, int height) {
    return RECT{x, y, x + width, y + height};
}

::testing::AssertionResult SameRect(const RECT& actual, const RECT& expected) {
    if (EqualRect(&actual, &expected)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "(" << actual.left << "," << actual.top << ")-(" << actual.right << ","
           << actual.bottom << ") instead of (" << expected.left << "," << expected.top << ")-("
           << expected.right << "," << expected.bottom << ")";
}

// Resizes the window until its client area is `width` x `height` (the menu bar may wrap).
void SetClientSize(HWND window, int width, int height) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT client{};
        ::GetClientRect(window, &client);
        if (client.right == width && client.bottom == height) {
            return;
        }
        RECT outer{};
        ::GetWindowRect(window, &outer);
        ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                       outer.bottom - outer.top + height - client.bottom,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

TEST(MainWindowStart, CaptionPlaceMenusColumnsAndPanes) {
    MainWindowRun run;
    EXPECT_EQ(WindowText(run.window), "Tesk为分析器2.1");

    RECT outer{};
    ::GetWindowRect(run.window, &outer);
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    EXPECT_TRUE(
        SameRect(outer, Rect((screenWidth - 1020) / 2, (screenHeight - 600) / 2, 1020, 600)));

    // The program icon in the caption, the task bar and a drag of the minimised window.
    const auto icon = ::SendMessageA(run.window, WM_GETICON, ICON_BIG, 0);
    EXPECT_NE(icon, 0);
    EXPECT_EQ(::SendMessageA(run.window, WM_GETICON, ICON_SMALL, 0), icon);
    EXPECT_EQ(::SendMessageA(run.window, WM_QUERYDRAGICON, 0, 0), icon);

    const HMENU bar = ::GetMenu(run.window);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(::GetMenuItemCount(bar), 2);
    EXPECT_EQ(MenuText(bar, 0), "文件");
    EXPECT_EQ(MenuText(bar, 1), "工具");
    EXPECT_EQ(::GetMenuItemID(::GetSubMenu(bar, 0), 0), static_cast<UINT>(ID_EXIT));
    EXPECT_EQ(MenuText(::GetSubMenu(bar, 0), 0), "退出");
    EXPECT_EQ(::GetMenuItemID(::GetSubMenu(bar, 1), 0), static_cast<UINT>(ID_FEATURE_TOOL));
    EXPECT_EQ(MenuText(::GetSubMenu(bar, 1), 0), "特征码工具");

    // The About item closes the system menu, after a separator.
    const HMENU system = ::GetSystemMenu(run.window, FALSE);
    const int items = ::GetMenuItemCount(system);
    ASSERT_GE(items, 2);
    EXPECT_EQ(::GetMenuItemID(system, items - 1), static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_EQ(MenuText(system, items - 1), "关于 Vantrel(&A)...");
    EXPECT_EQ(::GetMenuState(system, static_cast<UINT>(items - 2), MF_BYPOSITION) & MF_SEPARATOR,
              static_cast<UINT>(MF_SEPARATOR));

    EXPECT_EQ(ColumnTitles(run.tree),
              (std::vector<std::string>{"进程名", "PID", "PPID", "映像路径", "命令行", "状态",
                                        "子进程数", "启动时间", "处理", "编号"}));
    EXPECT_EQ(ColumnTitles(run.behaviors),
              (std::vector<std::string>{"时间", "行为", "处理", "信息"}));
    EXPECT_EQ(run.ItemCount(run.tree), 0);
    EXPECT_EQ(run.ItemCount(run.behaviors), 0);
    EXPECT_EQ(run.Pane(0), "统计");
    EXPECT_EQ(run.Pane(1), "状态");
    EXPECT_EQ(::GetDlgCtrlID(run.status), 0xE801);
    EXPECT_NE(::GetDlgItem(run.window, IDC_SPLITTER), nullptr);
    EXPECT_NE(::GetWindowLongA(run.window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
    uitest::KeepScreenshot(run.window, "main_empty");
}

TEST(MainWindowStart, LayoutFollowsTheClientSize) {
    struct Case {
        int cx, cy;
        std::vector<int> treeWidths;
        int infoWidth;
    };
    const std::vector<Case> cases = {
        {1000, 520, {191, 47, 47, 249, 172, 47, 76, 76, 47, 0}, 660},
        {1280, 700, {245, 61, 61, 319, 221, 61, 98, 98, 61, 0}, 940},
        // Narrower than the three fixed behaviour columns: the last one is empty, not 65,000 wide.
        {300, 400, {57, 14, 14, 74, 51, 14, 23, 23, 14, 0}, 0},
    };
    MainWindowRun run;
    const HWND splitter = ::GetDlgItem(run.window, IDC_SPLITTER);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cx);
        SetClientSize(run.window, c.cx, c.cy);
        RECT client{};
        ::GetClientRect(run.window, &client);
        ASSERT_EQ(client.right, c.cx);
        ASSERT_EQ(client.bottom, c.cy);
        run.Call([](CVantrelDlg&) {});
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(ColumnWidth(run.tree, i), c.treeWidths[static_cast<std::size_t>(i)]) << i;
        }
        // Column 3 gets what the three others (the time column as wide as a whole time) and the
        // scroll bar's 40 pixels leave.
        const int timeWidth = ColumnWidth(run.behaviors, 0);
        EXPECT_GE(timeWidth, 120);
        EXPECT_EQ(ColumnWidth(run.behaviors, 3), std::max(0, c.infoWidth - (timeWidth - 120)));
        EXPECT_TRUE(SameRect(PlaceOf(run.tree), Rect(1, 0, c.cx - 2, c.cy - 200)));
        EXPECT_TRUE(SameRect(PlaceOf(run.behaviors), Rect(1, c.cy - 200, c.cx - 2, 180)));
        EXPECT_TRUE(SameRect(PlaceOf(splitter), Rect(1, c.cy - 200, c.cx - 2, 5)));
        EXPECT_TRUE(SameRect(PlaceOf(run.status), Rect(0, c.cy - 20, c.cx, 20)));
    }
}

TEST(MainWindowStart, MinimisingMovesNothingAndASplitterDragLastsUntilTheNextResize) {
    MainWindowRun run;
    SetClientSize(run.window, 1000, 520);
    const HWND splitter = ::GetDlgItem(run.window, IDC_SPLITTER);
    const RECT tree = PlaceOf(run.tree);
    const RECT behaviors = PlaceOf(run.behaviors);

    ::ShowWindow(run.window, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(run.window) != FALSE; }, 3000));
    EXPECT_TRUE(SameRect(PlaceOf(run.tree), tree));
    EXPECT_TRUE(SameRect(PlaceOf(run.behaviors), behaviors));
    ::ShowWindow(run.window, SW_RESTORE);
    ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(run.window) == FALSE; }, 3000));
    run.Call([](CVantrelDlg&) {});
    EXPECT_TRUE(SameRect(PlaceOf(run.tree), tree));
    EXPECT_TRUE(SameRect(PlaceOf(run.behaviors), behaviors));

    // Drag the splitter 100 pixels up with the mouse: the lists follow it.
    run.BringToFront();
    const RECT bar = PlaceOf(splitter);
    POINT grip = run.OnScreen(run.window, POINT{500, (bar.top + bar.bottom) / 2});
    guitest::MouseMoveTo(grip);
    INPUT press{};
    press.type = INPUT_MOUSE;
    press.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    ::SendInput(1, &press, sizeof(press));
    ::Sleep(100);
    guitest::MouseMoveTo(POINT{grip.x, grip.y - 50});
    guitest::MouseMoveTo(POINT{grip.x, grip.y - 100});
    press.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &press, sizeof(press));
    run.WaitForInput();
    EXPECT_LT(PlaceOf(splitter).top, bar.top - 50);
    EXPECT_LT(PlaceOf(run.tree).bottom, tree.bottom - 50);

    // The next resize lays everything out again.
    SetClientSize(run.window, 1000, 521);
    SetClientSize(run.window, 1000, 520);
    run.Call([](CVantrelDlg&) {});
    EXPECT_TRUE(SameRect(PlaceOf(splitter), bar));
    EXPECT_TRUE(SameRect(PlaceOf(run.tree), tree));
    EXPECT_TRUE(SameRect(PlaceOf(run.behaviors), behaviors));
}

TEST(MainWindowStart, AboutBoxFromTheSystemMenuAndOtherSystemCommandsAsUsual) {
    MainWindowRun run;
    ::PostMessageA(run.window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    const uitest::SeenBox about = run.WaitForBox();
    ASSERT_NE(about.window, nullptr);
    EXPECT_EQ(about.caption, "关于 Vantrel");
    EXPECT_EQ(about.text, "Vantrel，1.0 版");
    EXPECT_EQ(about.owner, run.window);
    run.Dismiss(about);
    EXPECT_TRUE(run.NoBox());
    EXPECT_TRUE(run.Running());

    ::PostMessageA(run.window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(WaitUntil([&] { return ::IsIconic(run.window) != FALSE; }, 3000));
    EXPECT_TRUE(run.NoBox());
}

}  // namespace

namespace {

constexpr char kFullHdChild[] = "VANTREL_FULL_HD_CHILD";

// Run by the test below in a child process on a Wine virtual desktop of 1920 x 1080 pixels.
TEST(FullHdScreen, TheWindowStartsAt450By240) {
    if (::GetEnvironmentVariableA(kFullHdChild, nullptr, 0) == 0) {
        GTEST_SKIP() << "runs in the child process of MainWindowStart.PlaceOnAFullHdScreen";
    }
    ASSERT_EQ(::GetSystemMetrics(SM_CXSCREEN), 1920);
    ASSERT_EQ(::GetSystemMetrics(SM_CYSCREEN), 1080);
    MainWindowRun run;
    RECT outer{};
    ::GetWindowRect(run.window, &outer);
    EXPECT_TRUE(SameRect(outer, Rect(450, 240, 1020, 600)));
}

TEST(MainWindowStart, PlaceOnAFullHdScreen) {
    // Wine gives a desktop named in a process's start-up information the size registered for it.
    const char desktop[] = "vantrel-fullhd";
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr,
                                0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char size[] = "1920x1080";
    ::RegSetValueExA(key, desktop, 0, REG_SZ, reinterpret_cast<const BYTE*>(size), sizeof(size));
    ::RegCloseKey(key);

    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, sizeof(self));
    std::string command =
        std::string("\"") + self + "\" --gtest_filter=FullHdScreen.TheWindowStartsAt450By240";
    STARTUPINFOA start{};
    start.cb = sizeof(start);
    start.lpDesktop = const_cast<char*>(desktop);
    PROCESS_INFORMATION child{};
    ::SetEnvironmentVariableA(kFullHdChild, "1");
    const BOOL created = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &start, &child);
    ::SetEnvironmentVariableA(kFullHdChild, nullptr);
    ASSERT_TRUE(created);
    EXPECT_EQ(::WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(child.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the run on the 1920 x 1080 desktop failed";
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
}

}  // namespace
