// The filter of the real main window's tree: Ctrl+L and its dialog, what a filter in force shows
// (rows, status pane 0, caption), the filter kept across F5 and removed by Esc and by another log,
// the search window's "只显示这些进程", and the marker of a folded row that hides an unusual
// process, read back from painted pixels.
#include "tests/ui_win/main_window_run.h"

#include "res/resource.h"
#include "tests/win/gui_support.h"
#include "win/handles.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using uitest::BehaviorLine;
using uitest::MainWindowRun;
using uitest::ProLine;
using uitest::WaitUntil;

// 1 root ─ 2 shell ─ 3 tool (read C:\Secret\plan.txt) ─ 4 child
//                  └ 5 other
// 6 alone
std::string Log() {
    return ProLine(1, 0, 101, "C:\\root.exe") + ProLine(2, 1, 102, "C:\\shell.exe") +
           ProLine(3, 2, 103, "C:\\tool.exe") + ProLine(4, 3, 104, "C:\\child.exe") +
           ProLine(5, 2, 105, "C:\\other.exe") + ProLine(6, 0, 106, "C:\\alone.exe") +
           BehaviorLine("[FILE_READ]", 3, "09:00:01", "C:\\Secret\\plan.txt") +
           BehaviorLine("[FILE_READ]", 5, "09:00:02", "C:\\public.txt");
}

struct DialogSearch {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    char className[32] = {};
    char caption[128] = {};
    ::GetClassNameA(hwnd, className, sizeof(className));
    ::GetWindowTextA(hwnd, caption, sizeof(caption));
    if (::IsWindowVisible(hwnd) && std::strcmp(className, "#32770") == 0 &&
        search->caption == caption) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A visible dialog of the window's thread with this caption; null after the time-out.
HWND WaitForDialog(MainWindowRun& run, const char* caption, int milliseconds = 5000) {
    DialogSearch search{caption};
    const DWORD thread = ::GetWindowThreadProcessId(run.window, nullptr);
    WaitUntil(
        [&] {
            ::EnumThreadWindows(thread, FindDialog, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        milliseconds);
    return search.found;
}

BOOL CALLBACK AppendStaticText(HWND child, LPARAM data) {
    char className[32] = {};
    ::GetClassNameA(child, className, sizeof(className));
    char part[512] = {};
    ::GetWindowTextA(child, part, sizeof(part));
    if (std::strcmp(className, "Static") == 0) {
        *reinterpret_cast<std::string*>(data) += part;
    }
    return TRUE;
}

std::string ChildText(HWND dialog) {
    std::string text;
    ::EnumChildWindows(dialog, AppendStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

// The text of the first visible tooltip among a thread's windows.
BOOL CALLBACK ReadVisibleTooltip(HWND hwnd, LPARAM data) {
    char className[64] = {};
    ::GetClassNameA(hwnd, className, sizeof(className));
    if (!::IsWindowVisible(hwnd) || lstrcmpiA(className, TOOLTIPS_CLASSA) != 0) {
        return TRUE;
    }
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    if (::SendMessageW(hwnd, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool))) {
        std::vector<wchar_t> text(1024, L'\0');
        tool.lpszText = text.data();
        ::SendMessageW(hwnd, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
        *reinterpret_cast<std::wstring*>(data) = text.data();
    }
    return FALSE;
}

std::wstring Caption(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

std::vector<std::string> Names(MainWindowRun& run) {
    return run.Column(run.tree, 0);
}

// Opens the filter dialog with Ctrl+L in the process list.
HWND OpenFilterDialog(MainWindowRun& run) {
    run.BringToFront();
    run.Click(run.CellPoint(run.tree, 0, 3));
    run.Key('L', true);
    return WaitForDialog(run, "筛选进程");
}

// Puts a filter by `pattern` in force as the menu's dialog does, and waits for the rebuild that
// follows the search of its behaviours.
bool FilterAndWait(MainWindowRun& run, const char* pattern) {
    const int before = run.Rebuilds();
    run.Call([&](CVantrelDlg& d) {
        d.SetFilter(std::make_unique<TreeFilter>(SearchPattern(pattern, false)));
    });
    return run.WaitForRebuilds(before + 1);
}

TEST(FilteredTree, CtrlLFiltersTheTreeUntilEscAndKeepsItAcrossARefresh) {
    MainWindowRun run;
    const std::string path = uitest::WriteFile("filter.log", Log());
    ASSERT_TRUE(run.DropAndWait(path));
    const std::wstring plainCaption = Caption(run.window);
    EXPECT_EQ(run.Pane(0), "6");

    HWND dialog = OpenFilterDialog(run);
    ASSERT_NE(dialog, nullptr);
    // An empty pattern and one that code page 936 cannot write are refused, and the dialog stays.
    struct Refused {
        const wchar_t* pattern;
        const char* message;
    };
    const Refused refused[] = {
        {L"", "请输入要筛选的内容。"},
        {L"plan\u0E01", "筛选内容含有GBK编码无法表示的字符，请修改后再筛选。"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.message);
        ::SetWindowTextW(::GetDlgItem(dialog, IDC_FILTER_TEXT), r.pattern);
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        const HWND box = WaitForDialog(run, "系统提示：");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ChildText(box), r.message);
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }, 3000));
        EXPECT_TRUE(::IsWindowVisible(dialog));
        EXPECT_EQ(run.ItemCount(run.tree), 6);
    }

    // A match by a behaviour only: its ancestors and its child come along, its sibling does not.
    const int rebuilds = run.Rebuilds();
    ::SetWindowTextW(::GetDlgItem(dialog, IDC_FILTER_TEXT), L"SECRET");
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(run.WaitForRebuilds(rebuilds + 1));
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }, 3000));
    EXPECT_EQ(Names(run),
              (std::vector<std::string>{"root.exe", "shell.exe", "tool.exe", "child.exe"}));
    EXPECT_EQ(run.Pane(0), "筛选 4/6");
    EXPECT_EQ(Caption(run.window), plainCaption + uitest::Wide(" - 筛选：SECRET"));
    EXPECT_EQ(run.Column(run.tree, 6), (std::vector<std::string>{"3", "2", "1", "0"}));
    uitest::KeepScreenshot(run.window, "filter_in_force");

    // F5 after the log grew: a new process that matches appears with its ancestors.
    uitest::AppendToFile(path, ProLine(7, 5, 107, "C:\\secret-helper.exe") +
                                   ProLine(8, 6, 108, "C:\\unrelated.exe"));
    const int before = run.Rebuilds();
    run.BringToFront();
    run.Click(run.CellPoint(run.tree, 0, 3));
    run.Key(VK_F5);
    ASSERT_TRUE(run.WaitForRebuilds(before + 1));
    EXPECT_EQ(Names(run),
              (std::vector<std::string>{"root.exe", "shell.exe", "tool.exe", "child.exe",
                                        "other.exe", "secret-helper.exe"}));
    EXPECT_EQ(run.Pane(0), "筛选 6/8");

    // Ctrl+L again shows the pattern in force; Esc in the dialog changes nothing.
    dialog = OpenFilterDialog(run);
    ASSERT_NE(dialog, nullptr);
    wchar_t shown[64] = {};
    ::GetWindowTextW(::GetDlgItem(dialog, IDC_FILTER_TEXT), shown, 64);
    EXPECT_STREQ(shown, L"SECRET");
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }, 3000));
    EXPECT_EQ(run.ItemCount(run.tree), 6);

    // Esc in the process list: every process again.
    run.BringToFront();
    run.Click(run.CellPoint(run.tree, 1, 3));
    run.Key(VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.tree) == 8; }, 3000));
    EXPECT_EQ(run.Pane(0), "8");
    EXPECT_EQ(Caption(run.window), plainCaption);
    EXPECT_TRUE(run.Running());

    // Through the menu's command, then another log: the filter goes with the log.
    ASSERT_TRUE(FilterAndWait(run, "alone"));
    EXPECT_EQ(run.Pane(0), "筛选 2/8");
    run.Call([](CVantrelDlg& d) { ::SendMessageA(d.Handle(), WM_COMMAND, ID_CLEAR_FILTER, 0); });
    EXPECT_EQ(run.Pane(0), "8");
    ASSERT_TRUE(FilterAndWait(run, "alone"));
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("other.log", Log())));
    EXPECT_EQ(run.ItemCount(run.tree), 6);
    EXPECT_EQ(run.Pane(0), "6");
    EXPECT_EQ(Caption(run.window), plainCaption);
}

// Holds the thread that searches a new filter's behaviours before its first piece while `holding`,
// until its search is dropped or `release` is set.
struct MatchHold {
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::atomic<int> entered{0};
    std::atomic<int> dropped{0};
};

MainWindowSeams HeldMatchSeams(const std::shared_ptr<MatchHold>& hold) {
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.filterMatchPause = [hold](const std::atomic<bool>& cancel) {
        if (!hold->holding.load()) {
            return;
        }
        ++hold->entered;
        while (!cancel.load() && !hold->release.load()) {
            ::Sleep(5);
        }
        if (cancel.load()) {
            ++hold->dropped;
        }
    };
    return seams;
}

TEST(FilteredTree, WhileANewFilterIsSearchedTheWindowGoesOnAndAnotherFilterOrLogDropsTheSearch) {
    const auto hold = std::make_shared<MatchHold>();
    MainWindowRun run(HeldMatchSeams(hold));
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("filter.log", Log())));
    const std::wstring plainCaption = Caption(run.window);
    hold->holding = true;
    // Puts a filter in force and waits until its search is held.
    const auto startFilter = [&](const char* pattern) {
        const int entered = hold->entered.load();
        run.Call([&](CVantrelDlg& d) {
            d.SetFilter(std::make_unique<TreeFilter>(SearchPattern(pattern, false)));
        });
        return WaitUntil([&] { return hold->entered.load() > entered; }, 5000);
    };

    // The search is held: the window answers, its rows are as they were, the status says why.
    const int rebuilds = run.Rebuilds();
    ASSERT_TRUE(startFilter("SECRET"));
    bool matching = false;
    run.Call([&](CVantrelDlg& d) { matching = d.FilterMatching(); });
    EXPECT_TRUE(matching);
    EXPECT_EQ(run.Pane(0), "正在筛选...");
    EXPECT_EQ(run.ItemCount(run.tree), 6);
    EXPECT_EQ(Caption(run.window), plainCaption);
    run.BringToFront();
    run.Click(run.CellPoint(run.tree, 5, 3));
    EXPECT_EQ(run.FirstSelected(run.tree), 5);

    // Another filter meanwhile: the first search is dropped at once and only the second shows.
    ASSERT_TRUE(startFilter("alone"));
    EXPECT_EQ(hold->dropped.load(), 1);
    hold->release = true;
    ASSERT_TRUE(run.WaitForRebuilds(rebuilds + 1));
    EXPECT_EQ(Names(run), (std::vector<std::string>{"alone.exe"}));
    EXPECT_EQ(run.Pane(0), "筛选 1/6");
    EXPECT_EQ(Caption(run.window), plainCaption + uitest::Wide(" - 筛选：alone"));
    run.WaitForInput();
    EXPECT_EQ(run.Rebuilds(), rebuilds + 1);  // none for the dropped search
    hold->release = false;

    // 取消筛选 during a search: no filter at all, every process.
    ASSERT_TRUE(startFilter("SECRET"));
    EXPECT_EQ(run.Pane(0), "正在筛选...");
    run.Call([](CVantrelDlg& d) { ::SendMessageA(d.Handle(), WM_COMMAND, ID_CLEAR_FILTER, 0); });
    EXPECT_EQ(hold->dropped.load(), 2);
    EXPECT_EQ(run.ItemCount(run.tree), 6);
    EXPECT_EQ(run.Pane(0), "6");
    run.Call([&](CVantrelDlg& d) { matching = d.FilterMatching() || d.Filter() != nullptr; });
    EXPECT_FALSE(matching);

    // Another log during a search: the search goes with the log.
    ASSERT_TRUE(startFilter("SECRET"));
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("other.log", Log())));
    EXPECT_EQ(hold->dropped.load(), 3);
    EXPECT_EQ(run.ItemCount(run.tree), 6);
    EXPECT_EQ(run.Pane(0), "6");

    // Closing the window during a search drops it too (the window's end waits for nothing).
    ASSERT_TRUE(startFilter("SECRET"));
}

TEST(FilteredTree, TheSearchWindowShowsOnlyTheProcessesWithHits) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("filter.log", Log())));
    run.Call([](CVantrelDlg& d) { d.ShowSearchWindow(); });
    HWND window = nullptr;
    run.Call([&](CVantrelDlg& d) { window = d.SearchWindow()->Handle(); });
    ASSERT_NE(window, nullptr);
    const HWND button = ::GetDlgItem(window, IDC_SEARCH_SHOW_ONLY);
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(::IsWindowEnabled(button));  // no hits yet

    ::SetWindowTextW(::GetDlgItem(window, IDC_SEARCH_TEXT), L"plan.txt");
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_SEARCH_GO, BN_CLICKED), 0);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(button) != FALSE; }, 5000));

    const int rebuilds = run.Rebuilds();
    const POINT middle = run.OnScreen(button, POINT{20, 8});
    ::SetForegroundWindow(window);
    run.Click(middle);
    ASSERT_TRUE(run.WaitForRebuilds(rebuilds + 1));
    EXPECT_EQ(Names(run),
              (std::vector<std::string>{"root.exe", "shell.exe", "tool.exe", "child.exe"}));
    EXPECT_EQ(run.Pane(0), "筛选 4/6");
    EXPECT_NE(Caption(run.window).find(uitest::Wide("plan.txt")), std::wstring::npos);
}

// The middle of row `row`'s plus or minus box, on the screen.
POINT BoxPoint(MainWindowRun& run, int row) {
    const RECT label = run.Label(row);
    const int indent = run.Rows()[static_cast<std::size_t>(row)].indent;
    const int left = label.left + 8 * indent - 20;
    return run.OnScreen(run.tree, POINT{left + 8, (label.top + 2 + label.bottom - 4) / 2});
}

RECT CountCell(MainWindowRun& run, int row) {
    RECT cell{};
    cell.top = 6;
    cell.left = LVIR_BOUNDS;
    ::SendMessageA(run.tree, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&cell));
    return cell;
}

TEST(FoldMarker, AFoldedParentOfAnUnusualChildDrawsItsCountInTheMarkerColour) {
    // 1 ─ 2 (kill); 3 ─ 4 (system); 5 (kill) alone.
    const std::string log =
        ProLine(1, 0, 101, "C:\\parent.exe") + ProLine(2, 1, 102, "C:\\bad.exe", "kill") +
        ProLine(3, 0, 103, "C:\\quiet.exe") + ProLine(4, 3, 104, "C:\\fine.exe") +
        ProLine(5, 0, 105, "C:\\lone.exe", "kill");
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("marker.log", log)));
    run.BringToFront();
    run.Click(BoxPoint(run, 2));  // fold 3 first: the rows above it stay where they are
    run.Click(BoxPoint(run, 0));
    ASSERT_EQ(Names(run), (std::vector<std::string>{"parent.exe", "quiet.exe", "lone.exe"}));

    const COLORREF marker = RGB(255, 85, 0);
    // Text without smoothing, so that glyph pixels carry the exact text colour; the focus away
    // from the list, so that no row is drawn highlighted.
    win::Font font(::CreateFontA(-13, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                                 FF_SWISS, "Tahoma"));
    auto paint = [&] {
        guitest::Pixels pixels = guitest::Pixels::Blank(1, 1, 0);
        run.Call([&](CVantrelDlg& d) {
            d.TreeList().Send(WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
            ::SetFocus(d.BehaviorList().Handle());
            d.TreeList().Invalidate(true);
            ::UpdateWindow(d.TreeList().Handle());
            pixels = guitest::Pixels::OfWindow(d.TreeList().Handle());
        });
        return pixels;
    };
    guitest::Pixels pixels = paint();
    pixels.Keep("fold_marker");
    EXPECT_GT(pixels.Count(CountCell(run, 0), marker), 5);  // folded, hides bad.exe
    EXPECT_EQ(pixels.Count(CountCell(run, 1), marker), 0);  // folded, hides nothing unusual
    EXPECT_EQ(pixels.Count(CountCell(run, 2), marker), 0);  // unusual itself, no children

    // The tooltip over the marked count says how many it hides.
    run.BringToFront();
    guitest::MouseMoveTo(run.OnScreen(run.window, POINT{2, 2}));
    const RECT cell = CountCell(run, 0);
    guitest::MouseMoveTo(
        run.OnScreen(run.tree, POINT{cell.left + 6, (cell.top + cell.bottom) / 2}));
    run.WaitForInput();
    const std::wstring says = uitest::Wide("折叠的子进程中有 1 个处理异常的进程");
    std::wstring shown;
    EXPECT_TRUE(WaitUntil(
        [&] {
            shown.clear();
            const DWORD thread = ::GetWindowThreadProcessId(run.window, nullptr);
            ::EnumThreadWindows(thread, ReadVisibleTooltip, reinterpret_cast<LPARAM>(&shown));
            return shown == says;
        },
        3000))
        << shown.size() << " characters";

    // Unfolded, the count is drawn as any other.
    run.Click(BoxPoint(run, 0));
    ASSERT_EQ(run.ItemCount(run.tree), 4);
    pixels = paint();
    EXPECT_EQ(pixels.Count(CountCell(run, 0), marker), 0);
}

}  // namespace
