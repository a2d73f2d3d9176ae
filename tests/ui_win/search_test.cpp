// The search window of the real main window: a search and its count, a cancel, a jump from a hit
// that lands on that very behaviour after the behaviour list was sorted, and a search while F5
// reads what was appended to the log.
#include "tests/ui_win/main_window_run.h"

#include "res/resource.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using uitest::BehaviorLine;
using uitest::MainWindowRun;
using uitest::ProLine;
using uitest::WaitUntil;

HWND SearchWindow(MainWindowRun& run) {
    HWND window = nullptr;
    run.Call([&](CVantrelDlg& d) {
        if (d.SearchWindow()) {
            window = d.SearchWindow()->Handle();
        }
    });
    return window;
}

// Types a pattern into the window's box (as Unicode) and presses its search button. Returns once
// the window has taken the press: what the list shows after that is the new search's.
void Search(HWND window, const wchar_t* pattern) {
    ::SetWindowTextW(::GetDlgItem(window, IDC_SEARCH_TEXT), pattern);
    ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_SEARCH_GO, BN_CLICKED), 0);
}

bool Searching(MainWindowRun& run) {
    bool searching = false;
    run.Call(
        [&](CVantrelDlg& d) { searching = d.SearchWindow() && d.SearchWindow()->Searching(); });
    return searching;
}

std::string StatusText(HWND window) {
    char text[256] = {};
    ::GetWindowTextA(::GetDlgItem(window, IDC_SEARCH_STATUS), text, sizeof(text));
    return text;
}

std::string Log() {
    return ProLine(1, 0, 101, "C:\\P.exe") +
           BehaviorLine("[FILE_READ]", 1, "12:00:02", "C:\\Users\\管理员\\b.txt") +
           BehaviorLine("[FILE_READ]", 1, "12:00:01", "C:\\other.txt") +
           BehaviorLine("[FILE_WRITE]", 1, "12:00:03", "C:\\USERS\\管理员\\a.txt") +
           ProLine(2, 1, 202, "C:\\child.exe") +
           BehaviorLine("[FILE_READ]", 2, "12:00:04", "C:\\Users\\管理员\\c.txt") +
           ProLine(3, 0, 303, "C:\\Q.exe") + BehaviorLine("[FILE_READ]", 3, "9:00:00", "q1");
}

TEST(SearchWindow, FindsCountsAndJumpsToTheBehaviourAfterASort) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("search.log", Log())));
    run.Call(
        [](CVantrelDlg& d) { ::PostMessageA(d.Handle(), WM_COMMAND, ID_SEARCH_BEHAVIORS, 0); });
    ASSERT_TRUE(WaitUntil([&] { return SearchWindow(run) != nullptr; }, 3000));
    const HWND window = SearchWindow(run);
    char caption[64] = {};
    ::GetWindowTextA(window, caption, sizeof(caption));
    EXPECT_STREQ(caption, "搜索行为");

    Search(window, L"users\\管理员");
    ASSERT_TRUE(
        WaitUntil([&] { return !Searching(run) && StatusText(window).find("找到 3") == 0; }, 5000))
        << StatusText(window);
    EXPECT_EQ(StatusText(window), "找到 3 条，2 个进程");
    const HWND hits = ::GetDlgItem(window, IDC_SEARCH_LIST);
    EXPECT_EQ(run.ItemCount(hits), 3);
    EXPECT_EQ(run.Text(hits, 0, 5), "C:\\Users\\管理员\\b.txt");
    EXPECT_EQ(run.Text(hits, 1, 5), "C:\\USERS\\管理员\\a.txt");
    EXPECT_EQ(run.Text(hits, 2, 0), "child.exe");

    // Match case: one fewer.
    ::SendMessageA(::GetDlgItem(window, IDC_SEARCH_CASE), BM_SETCHECK, BST_CHECKED, 0);
    Search(window, L"Users\\管理员");
    ASSERT_TRUE(WaitUntil([&] { return !Searching(run) && run.ItemCount(hits) == 2; }, 5000));
    EXPECT_EQ(StatusText(window), "找到 2 条，2 个进程");

    // P's behaviours sorted by time: a.txt (12:00:03) moves from row 2 to the last row, b.txt to
    // row 1. A jump to the hit b.txt must land on it, not on row 0 where it was.
    run.BringToFront();
    run.Click(run.CellPoint(run.tree, 0, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 4; }, 3000));
    run.Call([](CVantrelDlg& d) {
        NMLISTVIEW click{};
        click.hdr.hwndFrom = d.BehaviorList().Handle();
        click.hdr.idFrom = IDC_BEHAVIOR_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iSubItem = 0;
        ::SendMessageA(d.Handle(), WM_NOTIFY, IDC_BEHAVIOR_LIST, reinterpret_cast<LPARAM>(&click));
    });
    ASSERT_EQ(run.Text(run.behaviors, 1, 3), "C:\\Users\\管理员\\b.txt");
    // Away from P first, so the jump has something to do.
    run.Click(run.CellPoint(run.tree, 2, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 1; }, 3000));

    ::SetForegroundWindow(window);
    run.DoubleClick(run.CellPoint(hits, 0, 5));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 4; }, 3000));
    EXPECT_EQ(run.FirstSelected(run.tree), 0);
    EXPECT_EQ(run.FirstSelected(run.behaviors), 1);
    EXPECT_EQ(run.Text(run.behaviors, run.FirstSelected(run.behaviors), 3),
              "C:\\Users\\管理员\\b.txt");
    EXPECT_EQ(::GetForegroundWindow(), run.window);
}

TEST(SearchWindow, ACancelStopsTheSearchAndAnotherLogClearsTheHits) {
    MainWindowRun run;
    std::string log = ProLine(1, 0, 101, "C:\\P.exe");
    for (int i = 0; i < 300000; ++i) {
        log += BehaviorLine("[FILE_READ]", 1, "12:00:00", "C:\\Windows\\System32\\kernel32.dll");
    }
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("big.log", log)));
    run.Call([](CVantrelDlg& d) { d.ShowSearchWindow(); });
    const HWND window = SearchWindow(run);
    ASSERT_NE(window, nullptr);
    // A search that finds every behaviour, cancelled by typing into the box.
    Search(window, L"KERNEL32");
    ASSERT_TRUE(WaitUntil([&] { return Searching(run); }, 3000));
    ::PostMessageA(::GetDlgItem(window, IDC_SEARCH_TEXT), WM_CHAR, 'x', 0);
    ASSERT_TRUE(WaitUntil([&] { return !Searching(run); }, 3000));
    EXPECT_EQ(StatusText(window).find("正在搜索"), std::string::npos) << StatusText(window);

    // The whole search, then another log: the hits go.
    Search(window, L"KERNEL32");
    ASSERT_TRUE(WaitUntil([&] { return StatusText(window) == "找到 300000 条，1 个进程"; }, 20000))
        << StatusText(window);
    EXPECT_FALSE(Searching(run));
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("other.log", Log())));
    EXPECT_EQ(run.ItemCount(::GetDlgItem(window, IDC_SEARCH_LIST)), 0);
    EXPECT_EQ(StatusText(window), "找到 0 条，0 个进程");
}

TEST(SearchWindow, ASearchWhileF5AddsLinesKeepsItsHitsWholeAndTheWindowGoingOn) {
    // Reads go freely until F5, which then reads one piece and waits for the test.
    const auto gate = std::make_shared<uitest::ReadGate>();
    gate->allowed = 1000000;
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.analyzer.files = std::make_shared<uitest::GatedSource>(gate);
    MainWindowRun run(std::move(seams));
    constexpr int kProcesses = 20;
    constexpr int kEach = 5000;
    constexpr int kAdded = 10000;
    const std::string dll = "C:\\Windows\\System32\\kernel32.dll";
    auto behaviours = [&](int process, int count) {
        std::string lines;
        for (int i = 0; i < count; ++i) {
            lines += BehaviorLine("[FILE_READ]", static_cast<uint32_t>(process), "12:00:00", dll);
        }
        return lines;
    };
    std::string log;
    for (int p = 1; p <= kProcesses; ++p) {
        log += ProLine(static_cast<uint32_t>(p), 0, static_cast<uint32_t>(100 + p), "C:\\P.exe") +
               behaviours(p, kEach);
    }
    const std::string path = uitest::WriteFile("growing-search.log", log);
    ASSERT_TRUE(run.DropAndWait(path));
    run.Call([](CVantrelDlg& d) { d.ShowSearchWindow(); });
    const HWND window = SearchWindow(run);
    ASSERT_NE(window, nullptr);
    const HWND hits = ::GetDlgItem(window, IDC_SEARCH_LIST);

    // The log grows by twice what it held, behaviours of every process and a new one; F5 starts
    // reading them, and the search starts while it does.
    std::string added;
    for (int p = 1; p <= kProcesses; ++p) {
        added += behaviours(p, kAdded);
    }
    added += ProLine(kProcesses + 1, 0, 999, "C:\\late.exe") + behaviours(kProcesses + 1, kAdded);
    uitest::AppendToFile(path, added);
    const int before = run.Rebuilds();
    gate->allowed = gate->reads.load() + 1;
    run.BringToFront();
    run.Key(VK_F5);
    ASSERT_TRUE(WaitUntil([&] { return gate->reads.load() == gate->allowed.load(); }, 5000));
    Search(window, L"KERNEL32");
    ASSERT_TRUE(WaitUntil([&] { return Searching(run); }, 3000));
    EXPECT_EQ(run.Rebuilds(), before);
    gate->allowed = 1000000;
    ASSERT_TRUE(run.WaitForRebuilds(before + 1, 30000));
    EXPECT_EQ(run.ItemCount(run.tree), kProcesses + 1);
    ASSERT_TRUE(WaitUntil([&] { return !Searching(run); }, 30000));

    // Every hit is whole, and the count says what the list holds: at least what the log held
    // before F5, at most all of it.
    const int found = run.ItemCount(hits);
    const int all = (kEach + kAdded) * kProcesses + kAdded;
    EXPECT_GE(found, kEach * kProcesses);
    EXPECT_LE(found, all);
    for (int row : {0, found / 2, found - 1}) {
        EXPECT_EQ(run.Text(hits, row, 5), dll) << row;
    }
    EXPECT_EQ(StatusText(window).find("找到 " + std::to_string(found) + " 条"), 0u)
        << StatusText(window);

    // Searched again with the log read whole, it finds every behaviour once.
    Search(window, L"KERNEL32");
    ASSERT_TRUE(WaitUntil([&] { return !Searching(run) && run.ItemCount(hits) == all; }, 30000))
        << run.ItemCount(hits);
    EXPECT_EQ(StatusText(window), "找到 " + std::to_string(all) + " 条，21 个进程");
    EXPECT_EQ(run.Text(hits, all - 1, 0), "late.exe");
}

}  // namespace
