// The main window as it starts: caption, place, menus, columns, status panes, the layout that
// follows the client size, the About box, and a shutdown that neither hangs nor rebuilds a window
// on its way out.
#include "tests/ui_win/main_window_run.h"

#include "bench/log_generator.h"
#include "res/resource.h"
#include "tests/win/gui_support.h"
#include "win/dpi.h"
#include "win/handles.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
    EXPECT_EQ(::GetMenuItemID(::GetSubMenu(bar, 0), 0), static_cast<UINT>(ID_AUTO_REFRESH));
    EXPECT_EQ(MenuText(::GetSubMenu(bar, 0), 0), "自动刷新");
    EXPECT_EQ(::GetMenuItemID(::GetSubMenu(bar, 0), 1), static_cast<UINT>(ID_EXPORT));
    EXPECT_EQ(MenuText(::GetSubMenu(bar, 0), 1), "导出...");
    EXPECT_EQ(::GetMenuItemID(::GetSubMenu(bar, 0), 2), static_cast<UINT>(ID_EXIT));
    EXPECT_EQ(MenuText(::GetSubMenu(bar, 0), 2), "退出");
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
    // At the default size the lower list and the status bar take the bottom 200 pixels; the
    // splitter keeps that share of the lists' height at every other size.
    RECT start{};
    ::GetClientRect(run.window, &start);
    const double share = static_cast<double>(start.bottom - 200) / (start.bottom - 20);
    EXPECT_EQ(PlaceOf(splitter).top, start.bottom - 200);
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
        const int top = static_cast<int>(std::lround(share * (c.cy - 20)));
        EXPECT_TRUE(SameRect(PlaceOf(run.tree), Rect(1, 0, c.cx - 2, top)));
        EXPECT_TRUE(SameRect(PlaceOf(run.behaviors), Rect(1, top, c.cx - 2, c.cy - 20 - top)));
        EXPECT_TRUE(SameRect(PlaceOf(splitter), Rect(1, top, c.cx - 2, 5)));
        EXPECT_TRUE(SameRect(PlaceOf(run.status), Rect(0, c.cy - 20, c.cx, 20)));
    }
}

TEST(MainWindowStart, MinimisingMovesNothingAndASplitterDragOutlastsResizes) {
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

    // A resize keeps the splitter where it was dragged, as a share of the height.
    const RECT dragged = PlaceOf(splitter);
    const RECT draggedTree = PlaceOf(run.tree);
    SetClientSize(run.window, 1000, 521);
    SetClientSize(run.window, 1000, 520);
    run.Call([](CVantrelDlg&) {});
    EXPECT_NEAR(PlaceOf(splitter).top, dragged.top, 1);
    EXPECT_NEAR(PlaceOf(run.tree).bottom, draggedTree.bottom, 1);
    EXPECT_NEAR(PlaceOf(run.behaviors).top, dragged.top, 1);
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

namespace {

// Drags the splitter with the mouse to a point of the window's client area.
void DragSplitterTo(MainWindowRun& run, HWND splitter, int clientY) {
    run.BringToFront();
    const RECT bar = PlaceOf(splitter);
    const POINT grip = run.OnScreen(run.window, POINT{500, (bar.top + bar.bottom) / 2});
    const POINT target = run.OnScreen(run.window, POINT{500, clientY});
    guitest::MouseMoveTo(grip);
    INPUT press{};
    press.type = INPUT_MOUSE;
    press.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    ::SendInput(1, &press, sizeof(press));
    ::Sleep(100);
    guitest::MouseMoveTo(POINT{grip.x, (grip.y + target.y) / 2});
    guitest::MouseMoveTo(target);
    press.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(1, &press, sizeof(press));
    run.WaitForInput();
}

// The least height of a list: its header and three rows of the process list, and borders.
int MinPaneHeight(MainWindowRun& run) {
    const HWND header = reinterpret_cast<HWND>(::SendMessageA(run.tree, LVM_GETHEADER, 0, 0));
    RECT headerRect{};
    ::GetWindowRect(header, &headerRect);
    const RECT row = run.Label(0);
    return (headerRect.bottom - headerRect.top) + 3 * (row.bottom - row.top);
}

int Height(const RECT& r) {
    return r.bottom - r.top;
}

// How many pixels of a child's area, as the top-level window shows it, are near black. Read from
// the top-level window's own surface: what its children last painted there, not a fresh picture.
int DarkPixelsOnScreen(HWND window, RECT area) {
    const HWND top = ::GetAncestor(window, GA_ROOT);
    ::MapWindowPoints(window, top, reinterpret_cast<POINT*>(&area), 2);
    const HDC dc = ::GetDC(top);
    const guitest::Pixels pixels = guitest::Pixels::OfDc(dc, area);
    ::ReleaseDC(top, dc);
    int dark = 0;
    for (int y = 0; y < pixels.Height(); ++y) {
        for (int x = 0; x < pixels.Width(); ++x) {
            const COLORREF c = pixels.At(x, y);
            dark += GetRValue(c) < 80 && GetGValue(c) < 80 && GetBValue(c) < 80 ? 1 : 0;
        }
    }
    return dark;
}

TEST(MainWindowLayout, StatusBarAndSplitterArePaintedAfterEveryResize) {
    MainWindowRun run;
    ASSERT_TRUE(
        run.DropAndWait(uitest::WriteFile("resize.log", uitest::ProLine(1, 0, 100, "C:\\a.exe"))));
    ASSERT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 3000));
    const HWND splitter = ::GetDlgItem(run.window, IDC_SPLITTER);
    struct Size {
        int cx, cy;
    };
    for (const Size size : {Size{900, 500}, Size{1100, 650}, Size{700, 420}, Size{1000, 520}}) {
        SCOPED_TRACE(size.cx);
        SetClientSize(run.window, size.cx, size.cy);
        run.Call([](CVantrelDlg&) {});
        RECT pane{};
        ::SendMessageA(run.status, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&pane));
        RECT bar{};
        ::GetClientRect(splitter, &bar);
        // The pane's text and the splitter's black frame are on the screen again.
        EXPECT_TRUE(WaitUntil([&] { return DarkPixelsOnScreen(run.status, pane) > 20; }, 2000));
        EXPECT_TRUE(WaitUntil(
            [&] { return DarkPixelsOnScreen(splitter, bar) >= 2 * (bar.right - bar.left); }, 2000));
    }
}

TEST(MainWindowLayout, TheSplitterKeepsItsShareAndBothListsStay) {
    MainWindowRun run;
    ASSERT_TRUE(
        run.DropAndWait(uitest::WriteFile("split.log", uitest::ProLine(1, 0, 100, "C:\\a.exe"))));
    const HWND splitter = ::GetDlgItem(run.window, IDC_SPLITTER);
    SetClientSize(run.window, 1000, 520);
    run.Call([](CVantrelDlg&) {});
    const int least = MinPaneHeight(run);
    ASSERT_GT(least, 60);

    struct Drag {
        const char* where;
        int clientY;  // where the splitter is let go
    };
    // Past both edges, and well inside.
    const Drag drags[] = {{"bottom edge", 519},
                          {"below the window", 600},
                          {"top edge", 0},
                          {"above the window", -80},
                          {"middle", 250}};
    for (const Drag& drag : drags) {
        SCOPED_TRACE(drag.where);
        SetClientSize(run.window, 1000, 520);
        run.Call([](CVantrelDlg&) {});
        DragSplitterTo(run, splitter, drag.clientY);
        run.Call([](CVantrelDlg&) {});
        const RECT bar = PlaceOf(splitter);
        EXPECT_TRUE(::IsWindowVisible(splitter));
        EXPECT_GE(Height(PlaceOf(run.tree)), least);
        EXPECT_GE(Height(PlaceOf(run.behaviors)), least);
        EXPECT_LE(bar.bottom, PlaceOf(run.status).top);
        EXPECT_GE(bar.top, least);

        // Taller and shorter: the splitter keeps its share of the lists' height, within limits.
        const double share = static_cast<double>(bar.top) / (520 - 20);
        for (const int cy : {800, 400}) {
            SetClientSize(run.window, 1000, cy);
            run.Call([](CVantrelDlg&) {});
            const int expected = std::clamp(static_cast<int>(std::lround(share * (cy - 20))), least,
                                            cy - 20 - least);
            EXPECT_NEAR(PlaceOf(splitter).top, expected, 4) << cy;
            EXPECT_GE(Height(PlaceOf(run.tree)), least) << cy;
            EXPECT_GE(Height(PlaceOf(run.behaviors)), least) << cy;
        }
    }
}

TEST(MainWindowLayout, TheWindowHasAMinimumSizeThatKeepsBothListsAndTheHeaders) {
    MainWindowRun run;
    ASSERT_TRUE(
        run.DropAndWait(uitest::WriteFile("small.log", uitest::ProLine(1, 0, 100, "C:\\a.exe"))));
    const int least = MinPaneHeight(run);
    struct Size {
        int width, height;
    };
    for (const Size size : {Size{400, 300}, Size{200, 150}, Size{1, 1}}) {
        SCOPED_TRACE(size.width);
        ::SetWindowPos(run.window, nullptr, 0, 0, size.width, size.height,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        run.Call([](CVantrelDlg&) {});
        RECT outer{};
        ::GetWindowRect(run.window, &outer);
        EXPECT_GE(outer.right - outer.left, size.width);
        EXPECT_GE(Height(PlaceOf(run.tree)), least);
        EXPECT_GE(Height(PlaceOf(run.behaviors)), least);
        // The first row starts below the header, inside the list.
        RECT client{};
        ::GetClientRect(run.tree, &client);
        EXPECT_LE(run.Label(0).bottom, client.bottom);
    }
}

}  // namespace

namespace {

constexpr char kHighDpiChild[] = "VANTREL_HIGH_DPI_CHILD";

// The window, frame included, as it shows itself (its own surface; the screen DC reads black here).
void KeepWindowPicture(HWND window, const char* name) {
    RECT outer{};
    ::GetWindowRect(window, &outer);
    const HDC dc = ::GetWindowDC(window);
    guitest::Pixels::OfDc(dc, RECT{0, 0, outer.right - outer.left, outer.bottom - outer.top})
        .Keep(name);
    ::ReleaseDC(window, dc);
}

std::string SampleLog() {
    char source[MAX_PATH] = {};
    ::GetEnvironmentVariableA("VANTREL_SOURCE_DIR", source, sizeof(source));
    return std::string(source) + "\\samples\\sample.log";
}

// The icon of a row as the list draws it, against the same icon drawn by the system on the row's
// background: how many pixels differ.
int IconPixelsDrawnOtherwise(MainWindowRun& run, int row) {
    HIMAGELIST images = nullptr;
    run.Call([&](CVantrelDlg& d) { images = d.TreeList().smallImageList; });
    const ProcessRow shown = run.Rows()[static_cast<std::size_t>(row)];
    int cx = 0;
    int cy = 0;
    ::ImageList_GetIconSize(images, &cx, &cy);
    const RECT label = run.Label(row);
    const guitest::Pixels list = guitest::Pixels::OfWindow(run.tree);
    const int left = label.left + win::Scale(2, win::WindowDpi(run.window));
    const int top = label.top + (label.bottom - label.top - cy) / 2;
    const COLORREF back = list.At(label.right - 3, label.top + 1);

    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, cx, cy);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    HBRUSH brush = ::CreateSolidBrush(back);
    const RECT all{0, 0, cx, cy};
    ::FillRect(dc, &all, brush);
    ::DeleteObject(brush);
    ::ImageList_DrawEx(images, shown.iconIndex, dc, 0, 0, cx, cy, CLR_NONE, CLR_NONE,
                       ILD_TRANSPARENT);
    const guitest::Pixels reference = guitest::Pixels::OfDc(dc, all);
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);

    int differing = 0;
    for (int y = 0; y < cy; ++y) {
        for (int x = 0; x < cx; ++x) {
            differing += list.At(left + x, top + y) != reference.At(x, y) ? 1 : 0;
        }
    }
    return differing;
}

// Run by MainWindowStart.At144Dpi in a child process that Wine starts at 144 DPI.
TEST(HighDpiScreen, EverySizeGrowsByHalfAndIconsAreWhole) {
    if (::GetEnvironmentVariableA(kHighDpiChild, nullptr, 0) == 0) {
        GTEST_SKIP() << "runs in the child process of MainWindowStart.At144Dpi";
    }
    {
        win::WindowDc screen(nullptr);
        ASSERT_EQ(::GetDeviceCaps(screen.Get(), LOGPIXELSY), 144);
    }
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(SampleLog()));
    ASSERT_EQ(run.ItemCount(run.tree), 5);
    const HWND splitter = ::GetDlgItem(run.window, IDC_SPLITTER);
    EXPECT_EQ(Height(run.Label(0)), 36);
    EXPECT_EQ(Height(PlaceOf(run.status)), 30);
    EXPECT_EQ(Height(PlaceOf(splitter)), 8);
    // Scaled, or wider where a whole time needs more in the list's font at this DPI.
    EXPECT_GE(ColumnWidth(run.behaviors, 0), 180);
    HIMAGELIST images = nullptr;
    run.Call([&](CVantrelDlg& d) { images = d.TreeList().smallImageList; });
    int cx = 0;
    int cy = 0;
    ::ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(cx, ::GetSystemMetrics(SM_CXSMICON));
    EXPECT_GT(cx, 16);
    EXPECT_EQ(IconPixelsDrawnOtherwise(run, 4), 0);
    KeepWindowPicture(run.window, "main_144dpi");
}

TEST(MainWindowStart, At144Dpi) {
    // Wine takes a process's DPI from this value when the process starts.
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD before = 0;
    DWORD size = sizeof(before);
    const bool hadValue = ::RegQueryValueExA(key, "LogPixels", nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(&before), &size) == 0;
    const DWORD dpi = 144;
    ::RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                     sizeof(dpi));

    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, sizeof(self));
    std::string command = std::string("\"") + self +
                          "\" --gtest_filter=HighDpiScreen.EverySizeGrowsByHalfAndIconsAreWhole";
    STARTUPINFOA start{};
    start.cb = sizeof(start);
    PROCESS_INFORMATION child{};
    ::SetEnvironmentVariableA(kHighDpiChild, "1");
    const BOOL created = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &start, &child);
    ::SetEnvironmentVariableA(kHighDpiChild, nullptr);
    DWORD exitCode = 1;
    if (created) {
        EXPECT_EQ(::WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
        ::GetExitCodeProcess(child.hProcess, &exitCode);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    }
    if (hadValue) {
        ::RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&before),
                         sizeof(before));
    } else {
        ::RegDeleteValueA(key, "LogPixels");
    }
    ::RegCloseKey(key);
    ASSERT_TRUE(created);
    EXPECT_EQ(exitCode, 0u) << "the run at 144 DPI failed";

    // The same window at 96 DPI, for comparison.
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(SampleLog()));
    EXPECT_EQ(Height(run.Label(0)), 24);
    EXPECT_EQ(IconPixelsDrawnOtherwise(run, 4), 0);
    KeepWindowPicture(run.window, "main_96dpi");
}

}  // namespace
