// The window following a log that its writer keeps changing: a log started anew in the same file,
// 自动刷新 reading a growing log without F5, the behaviour list's own copy and select-all keys, and
// the rows of a long pass shown while it reads.
#include "tests/ui_win/main_window_run.h"

#include "res/resource.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

using uitest::BehaviorLine;
using uitest::GatedSource;
using uitest::MainWindowRun;
using uitest::ProLine;
using uitest::ReadGate;
using uitest::WaitUntil;

int TopIndex(HWND list) {
    return static_cast<int>(::SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
}

int PerPage(HWND list) {
    return static_cast<int>(::SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
}

int SelectedCount(HWND list) {
    return static_cast<int>(::SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0));
}

bool AutoRefreshChecked(MainWindowRun& run) {
    bool checked = false;
    run.Call([&](CVantrelDlg& d) {
        const UINT state = ::GetMenuState(::GetMenu(d.Handle()), ID_AUTO_REFRESH, MF_BYCOMMAND);
        checked = state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
    });
    return checked;
}

std::string Behaviors(uint32_t actor, int first, int count) {
    std::string lines;
    for (int i = first; i < first + count; ++i) {
        lines += BehaviorLine("[FILE_READ]", actor, "09:00:00", "C:\\f" + std::to_string(i));
    }
    return lines;
}

// The writer truncates the file and starts a new log in it, shorter than what was read; the old
// log's process 1 was chosen, and the new log has a process 1 of its own.
TEST(LiveFollow, ALogStartedAnewIsReadFromItsStartAndTheStatusSaysSo) {
    const std::string path = uitest::WriteFile(
        "restarted.log", ProLine(1, 0, 101, "C:\\old1.exe") + ProLine(2, 0, 102, "C:\\old2.exe") +
                             Behaviors(1, 0, 30) + Behaviors(2, 0, 30));
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(path));
    run.Click(run.CellPoint(run.tree, 0, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 30; }, 3000));

    uitest::WriteFile("restarted.log", ProLine(1, 0, 901, "C:\\new1.exe") +
                                           ProLine(5, 0, 905, "C:\\new5.exe") + Behaviors(5, 0, 2));
    run.Key(VK_F5);
    EXPECT_TRUE(WaitUntil([&] {
        return run.Column(run.tree, 1) == std::vector<std::string>{"901", "905"} &&
               run.Pane(1) == "日志已重新开始";
    }));
    EXPECT_EQ(run.Column(run.tree, 1), (std::vector<std::string>{"901", "905"}));
    EXPECT_EQ(run.Pane(1), "日志已重新开始");
    // Nothing of the earlier log's view is carried over to the new log's process 1.
    EXPECT_EQ(run.FirstSelected(run.tree), -1);
    EXPECT_EQ(run.ItemCount(run.behaviors), 0);
    run.Click(run.CellPoint(run.tree, 1, 3));
    EXPECT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 2; }, 3000));
    EXPECT_EQ(run.Text(run.behaviors, 1, 3), "C:\\f1");
    uitest::KeepScreenshot(run.window, "log_restarted");
}

// With 自动刷新 on, a growing log shows up without F5: the chosen process keeps its row and its
// list grows; a list scrolled to its end follows the new rows, one scrolled elsewhere stays put.
TEST(LiveFollow, AutoRefreshReadsTheGrowingLogAndKeepsTheView) {
    const std::string path =
        uitest::WriteFile("growing.log", ProLine(1, 0, 101, "C:\\a.exe") +
                                             ProLine(2, 0, 102, "C:\\b.exe") + Behaviors(1, 0, 40));
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(path));
    run.Click(run.CellPoint(run.tree, 0, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 40; }, 3000));
    ASSERT_FALSE(AutoRefreshChecked(run));
    run.BringToFront();
    run.Key(VK_F6);
    run.WaitForInput();
    ASSERT_TRUE(AutoRefreshChecked(run));

    struct Case {
        const char* what;
        int scrollTo;   // the row made visible before the log grows
        bool atBottom;  // whether the list then shows its last row
    };
    const Case cases[] = {
        {"at the end", -1, true},
        {"at the top", 0, false},
        {"at the end again", -1, true},
    };
    int total = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int target = c.scrollTo < 0 ? total - 1 : c.scrollTo;
        ::SendMessageA(run.behaviors, LVM_ENSUREVISIBLE, static_cast<WPARAM>(target), FALSE);
        const int top = TopIndex(run.behaviors);
        uitest::AppendToFile(path, Behaviors(1, total, 25) + Behaviors(2, total, 1));
        total += 25;
        ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == total; }));
        EXPECT_EQ(run.FirstSelected(run.tree), 0);
        EXPECT_EQ(run.Text(run.behaviors, total - 1, 3), "C:\\f" + std::to_string(total - 1));
        if (c.atBottom) {
            EXPECT_GE(TopIndex(run.behaviors) + PerPage(run.behaviors), total);
        } else {
            EXPECT_EQ(TopIndex(run.behaviors), top);
        }
    }

    run.Key(VK_F6);
    run.WaitForInput();
    EXPECT_FALSE(AutoRefreshChecked(run));
}

// Ctrl+A selects every behaviour of the list, Ctrl+C copies the selected ones as lines of
// tab-separated cells; a cell's own tab or line break does not split it.
TEST(LiveFollow, CtrlAAndCtrlCCopyTheSelectedBehavioursAsTabSeparatedText) {
    const std::string path = uitest::WriteFile(
        "copy.log", ProLine(1, 0, 101, "C:\\a.exe") +
                        BehaviorLine("[FILE_READ]", 1, "09:00:01", "C:\\一.txt") +
                        BehaviorLine("[FILE_READ]", 1, "09:00:02", "tab\there") +
                        BehaviorLine("[FILE_READ]", 1, "09:00:03", "C:\\三.txt", "report"));
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(path));
    run.Click(run.CellPoint(run.tree, 0, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == 3; }, 3000));
    const auto line = [&](int row) {
        std::string text;
        for (int column = 0; column < 4; ++column) {
            std::string cell = run.Text(run.behaviors, row, column);
            for (char& ch : cell) {
                ch = ch == '\t' ? ' ' : ch;
            }
            text += (column > 0 ? "\t" : "") + cell;
        }
        return text + "\r\n";
    };
    ASSERT_EQ(run.Text(run.behaviors, 1, 3), "tab\there");

    run.Click(run.CellPoint(run.behaviors, 0, 1));
    run.Click(run.CellPoint(run.behaviors, 2, 1), true);
    uitest::SetClipboardMarker();
    run.Key('C', true);
    run.WaitForInput();
    EXPECT_EQ(uitest::ClipboardText(), uitest::Wide(line(0) + line(2)));

    run.Key('A', true);
    run.WaitForInput();
    EXPECT_EQ(SelectedCount(run.behaviors), 3);
    uitest::SetClipboardMarker();
    run.Key('C', true);
    run.WaitForInput();
    EXPECT_EQ(uitest::ClipboardText(), uitest::Wide(line(0) + line(1) + line(2)));
    EXPECT_EQ(line(1), "09:00:02\t" + run.Text(run.behaviors, 1, 1) + "\t" +
                           run.Text(run.behaviors, 1, 2) + "\ttab here\r\n");
}

// Rebuilds that come by themselves every second must not undo a fold: the folded process stays
// folded, its new child with it, while new processes elsewhere appear.
TEST(LiveFollow, AFoldedRowStaysFoldedWhileFollowing) {
    const std::string path = uitest::WriteFile("folded.log", ProLine(1, 0, 101, "C:\\p.exe") +
                                                                 ProLine(2, 1, 102, "C:\\c.exe") +
                                                                 ProLine(3, 0, 103, "C:\\q.exe"));
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(path));
    ASSERT_EQ(run.ItemCount(run.tree), 3);
    run.BringToFront();
    run.Key(VK_F6);
    run.WaitForInput();
    ASSERT_TRUE(AutoRefreshChecked(run));
    run.Click(run.BoxPoint(0));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.tree) == 2; }, 3000));

    uitest::AppendToFile(path, ProLine(4, 0, 104, "C:\\r.exe") + ProLine(5, 1, 105, "C:\\d.exe"));
    EXPECT_TRUE(WaitUntil([&] {
        return run.Column(run.tree, 1) == std::vector<std::string>{"101", "103", "104"};
    }));
    EXPECT_EQ(run.Column(run.tree, 1), (std::vector<std::string>{"101", "103", "104"}));
    EXPECT_EQ(run.Rows()[0].expandState, ExpandState::kCollapsed);
}

// Hands the log out a chunk at a time, as far as the test allows: a pass over it lasts as long
// as the test wants. A read waits at most ten seconds for its turn, so nothing hangs for good.
TEST(LiveFollow, TheTreeAppearsWhileABigLogIsReadAndKeepsItsFoldsAndSelection) {
    // 3,000 processes in families of five (a root and a chain of four), a few 64 KiB reads long.
    constexpr uint32_t kProcesses = 3000;
    std::string log;
    for (uint32_t id = 1; id <= kProcesses; ++id) {
        log += ProLine(id, id % 5 == 1 ? 0 : id - 1, 1000 + id,
                       "C:\\Program Files\\Vendor\\process" + std::to_string(id) + ".exe");
    }
    ASSERT_GT(log.size(), 4 * kChunkSize);
    const auto gate = std::make_shared<ReadGate>();
    MainWindowSeams seams = MainWindowRun::TestSeams();
    seams.analyzer.files = std::make_shared<GatedSource>(gate);
    MainWindowRun run(std::move(seams));
    run.Drop({uitest::WriteFile("big.log", log)});

    // The first read only: its processes are shown within a second or so, the pass still going.
    gate->allowed = 1;
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.tree) > 0; }, 5000));
    const int shown = run.ItemCount(run.tree);
    EXPECT_LT(shown, static_cast<int>(kProcesses));
    EXPECT_NE(run.Pane(1), "数据分析完成!");
    EXPECT_EQ(gate->reads.load(), 1);

    // The analyst folds the first family and selects the second; the next rows keep both.
    run.BringToFront();
    run.Click(run.BoxPoint(0));
    ASSERT_EQ(run.Text(run.tree, 1, 9), "6");
    run.Click(run.CellPoint(run.tree, 1, 3));
    int passRebuilds = 0;
    run.Call([&](CVantrelDlg& d) { passRebuilds = d.PassRebuildCount(); });
    gate->allowed = 2;
    ASSERT_TRUE(WaitUntil(
        [&] {
            int now = 0;
            run.Call([&](CVantrelDlg& d) { now = d.PassRebuildCount(); });
            return now > passRebuilds;
        },
        5000));
    EXPECT_GT(run.ItemCount(run.tree), shown - 4);
    EXPECT_EQ(run.Rows()[0].expandState, ExpandState::kCollapsed);
    EXPECT_EQ(run.FirstSelected(run.tree), 1);
    EXPECT_EQ(run.Text(run.tree, 1, 9), "6");

    // The rest: every process, the fold and the selection as the analyst left them.
    gate->allowed = 1000;
    ASSERT_TRUE(WaitUntil([&] { return run.Pane(1) == "数据分析完成!"; }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.tree) == kProcesses - 4; }, 5000));
    EXPECT_EQ(run.Rows()[0].expandState, ExpandState::kCollapsed);
    EXPECT_EQ(run.FirstSelected(run.tree), 1);
}

}  // namespace
