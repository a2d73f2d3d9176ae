// The behaviour list of the real main window: the chosen process's behaviours, the column sort
// with its one toggle for all columns and processes, and the copy of a behaviour's full text.
#include "tests/ui_win/main_window_run.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using uitest::BehaviorLine;
using uitest::MainWindowRun;
using uitest::ProLine;
using uitest::WaitUntil;

constexpr char kMd5[] = "0123456789abcdef0123456789abcdef";

// P (row 0) did three things: a read at 12:00:02, an open at 12:00:01 and, at 12:00:03, the
// creation of its child (row 1). Q (row 2) did two, at 9:00:00 and 10:00:01.
std::string SortLog() {
    return ProLine(1, 0, 101, "C:\\P.exe") +
           BehaviorLine("[FILE_READ]", 1, "12:00:02", "z.txt", "system") +
           BehaviorLine("[PRO_OPEN]", 1, "12:00:01", "a.exe(1)", "report") +
           ProLine(2, 1, 202, "C:\\child.exe", "Kill", kMd5, "12:00:03") +
           ProLine(3, 0, 303, "C:\\Q.exe") + BehaviorLine("[FILE_READ]", 3, "9:00:00", "q1") +
           BehaviorLine("[FILE_READ]", 3, "10:00:01", "q2") +
           BehaviorLine("[FILE_READ]", 3, "10:00:02", "", "report");
}

POINT HeaderPoint(MainWindowRun& run, int column) {
    const HWND header = reinterpret_cast<HWND>(::SendMessageA(run.behaviors, LVM_GETHEADER, 0, 0));
    RECT r{};
    ::SendMessageA(header, HDM_GETITEMRECT, static_cast<WPARAM>(column),
                   reinterpret_cast<LPARAM>(&r));
    return run.OnScreen(header, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void Choose(MainWindowRun& run, int row, int behaviours) {
    run.Click(run.CellPoint(run.tree, row, 3));
    ASSERT_TRUE(WaitUntil([&] { return run.ItemCount(run.behaviors) == behaviours; }, 3000));
}

int SortToggle(MainWindowRun& run) {
    int toggle = -1;
    run.Call([&](CVantrelDlg& d) { toggle = d.SortAscending(); });
    return toggle;
}

TEST(BehaviorList, EachColumnClickSortsInTheStoreAndFlipsTheOneToggle) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("sort.log", SortLog())));

    // Before any process is chosen a title click does nothing, not even to the toggle.
    run.Click(HeaderPoint(run, 0));
    EXPECT_EQ(SortToggle(run), 0);

    Choose(run, 0, 3);
    EXPECT_EQ(run.Column(run.behaviors, 0),
              (std::vector<std::string>{"12:00:02", "12:00:01", "12:00:03"}));  // as they came
    struct Step {
        int column;
        std::vector<std::string> times;
    };
    const Step steps[] = {
        {0, {"12:00:01", "12:00:02", "12:00:03"}},  // time, ascending
        {3, {"12:00:03", "12:00:02", "12:00:01"}},  // info descending: 路径 (C2 B7) > z > a
        {1, {"12:00:03", "12:00:01", "12:00:02"}},  // action ascending: 创建 (B4 B4) < 打开 < 读
        {2, {"12:00:02", "12:00:01", "12:00:03"}},  // handling descending: system > report > Kill
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.column);
        run.Click(HeaderPoint(run, step.column));
        EXPECT_TRUE(WaitUntil([&] { return run.Column(run.behaviors, 0) == step.times; }, 2000))
            << run.Column(run.behaviors, 0)[0];
    }
    EXPECT_EQ(run.Column(run.behaviors, 1),
              (std::vector<std::string>{"读文件", "打开进程", "创建进程"}));

    // Another process: the toggle goes on from where it was; times sort as bytes, not numbers.
    Choose(run, 2, 3);
    run.Click(HeaderPoint(run, 0));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return run.Column(run.behaviors, 0) ==
                   std::vector<std::string>{"10:00:01", "10:00:02", "9:00:00"};
        },
        2000));
    // Back to the first: the store kept its order.
    Choose(run, 0, 3);
    EXPECT_EQ(run.Column(run.behaviors, 0),
              (std::vector<std::string>{"12:00:02", "12:00:01", "12:00:03"}));
}

TEST(BehaviorList, ADoubleClickCopiesTheFullTextAndSaysSo) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("copy.log", SortLog())));
    const std::string creationDetail = "路径：C:\\child.exe  PID：202  特征码：  MD5：" +
                                       std::string(kMd5) +
                                       "  大小：4096  时间戳：5E8F1A2B  命令行：child.exe -run";
    const std::string creationInfo =
        "路径：C:\\child.exe  PID：202  特征码：  MD5：" + std::string(kMd5) + "  大小：4096  ";
    struct Case {
        int process;  // row in the tree
        int behaviours;
        int behaviour;  // row in the behaviour list
        std::string shown;
        std::string copied;
    };
    const Case cases[] = {
        {0, 3, 2, creationInfo, creationDetail},  // the creation: the long text, not the shown one
        {0, 3, 0, "z.txt", "z.txt"},              // any other: what is shown
        {2, 3, 2, "", ""},                        // nothing to copy, and still the message
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Choose(run, c.process, c.behaviours);
        EXPECT_EQ(run.Text(run.behaviors, c.behaviour, 3), c.shown);
        uitest::SetClipboardMarker();
        run.DoubleClick(run.CellPoint(run.behaviors, c.behaviour, 3));
        const uitest::SeenBox box = run.WaitForBox();
        ASSERT_NE(box.window, nullptr);
        EXPECT_EQ(box.text, "此条行为信息己复制到剪切板");
        EXPECT_EQ(box.caption, "系统提示：");
        EXPECT_TRUE(box.informationIcon);
        EXPECT_EQ(box.owner, run.window);
        EXPECT_EQ(uitest::ClipboardText(), uitest::Wide(c.copied));
        run.Dismiss(box);
    }

    // A double click below the rows selects nothing: no copy, no message.
    uitest::SetClipboardMarker();
    RECT client{};
    ::GetClientRect(run.behaviors, &client);
    run.DoubleClick(run.OnScreen(run.behaviors, POINT{300, client.bottom - 10}));
    EXPECT_EQ(run.FirstSelected(run.behaviors), -1);
    EXPECT_EQ(run.WaitForBox(500).window, nullptr);
    EXPECT_EQ(uitest::ClipboardText(), L"marker");
}

}  // namespace

namespace {

// Process i (row i - 1) did i things; its first behaviour says which process it is.
std::string CountingLog(uint32_t processes) {
    std::string log;
    for (uint32_t id = 1; id <= processes; ++id) {
        log += ProLine(id, 0, id, "C:\\p" + std::to_string(id) + ".exe");
        for (uint32_t k = 0; k < id; ++k) {
            log += BehaviorLine("[FILE_READ]", id, "2024-03-05 09:12:00.123",
                                "p" + std::to_string(id) + "-" + std::to_string(k));
        }
    }
    return log;
}

int FocusRow(MainWindowRun& run) {
    return static_cast<int>(::SendMessageA(run.tree, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                           MAKELPARAM(LVNI_FOCUSED, 0)));
}

// The behaviour list shows the process of the focus row.
bool ShowsFocusRow(MainWindowRun& run) {
    const int focus = FocusRow(run);
    if (focus < 0) {
        return false;
    }
    const std::string id = run.Text(run.tree, focus, 9);
    return run.ItemCount(run.behaviors) > 0 && run.Text(run.behaviors, 0, 3) == "p" + id + "-0";
}

TEST(BehaviorList, FollowsTheFocusRowByKeysRightClickFindAndRebuild) {
    MainWindowRun run;
    const std::string path = uitest::WriteFile("follow.log", CountingLog(30));
    ASSERT_TRUE(run.DropAndWait(path));
    run.Click(run.CellPoint(run.tree, 2, 3));
    ASSERT_TRUE(WaitUntil([&] { return ShowsFocusRow(run); }, 2000));

    struct Step {
        const char* name;
        WORD key;
        int focus;
    };
    const Step steps[] = {{"down", VK_DOWN, 3}, {"down", VK_DOWN, 4}, {"up", VK_UP, 3},
                          {"end", VK_END, 29},  {"home", VK_HOME, 0}, {"page down", VK_NEXT, -1}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        run.Key(step.key);
        if (step.focus >= 0) {
            EXPECT_EQ(FocusRow(run), step.focus);
        } else {
            EXPECT_GT(FocusRow(run), 0);
        }
        EXPECT_TRUE(WaitUntil([&] { return ShowsFocusRow(run); }, 2000));
    }

    // A right click moves the focus: the menu opens beside that process's behaviours.
    run.RightClick(run.CellPoint(run.tree, 5, 3));
    EXPECT_TRUE(WaitUntil([&] { return ShowsFocusRow(run) && FocusRow(run) == 5; }, 2000));
    run.Key(VK_ESCAPE);
    ASSERT_TRUE(run.Running());

    // A hit of the search becomes the focus row at once.
    int found = 0;
    run.Call([&](CVantrelDlg& d) { found = d.FindProcessByName("p17.", 1); });
    ASSERT_EQ(found, 1);
    EXPECT_EQ(FocusRow(run), 16);
    EXPECT_TRUE(ShowsFocusRow(run));

    // A rebuild brings back the focus row by process, and its behaviours with what was added.
    uitest::AppendToFile(path, ProLine(31, 0, 31, "C:\\first.exe") +
                                   BehaviorLine("[FILE_READ]", 17, "t", "p17-new"));
    const int before = run.Rebuilds();
    run.Key(VK_F5);
    ASSERT_TRUE(run.WaitForRebuilds(before + 1));
    EXPECT_EQ(run.Text(run.tree, FocusRow(run), 9), "17");
    EXPECT_TRUE(ShowsFocusRow(run));
    EXPECT_EQ(run.ItemCount(run.behaviors), 18);
}

// The rows the process list has selected, in order.
std::vector<int> SelectedRows(MainWindowRun& run) {
    std::vector<int> rows;
    for (int row = static_cast<int>(
             ::SendMessageA(run.tree, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
         row >= 0; row = static_cast<int>(::SendMessageA(
                       run.tree, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED))) {
        rows.push_back(row);
    }
    return rows;
}

// The list drops the old selection itself before a plain key or click: what ends up selected is
// what the list alone would select.
TEST(ProcessList, PlainKeysAndClicksSelectOneRowAndKeepASelectionGoingNowhere) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("select.log", CountingLog(30))));
    enum class Act { kClick, kCtrlClick, kRightClick, kKey };
    struct Step {
        const char* name;
        Act act;
        int rowOrKey;
        std::vector<int> selected;
    };
    const Step steps[] = {
        {"click 2", Act::kClick, 2, {2}},
        {"ctrl click 4", Act::kCtrlClick, 4, {2, 4}},
        {"down", Act::kKey, VK_DOWN, {5}},
        {"home", Act::kKey, VK_HOME, {0}},
        {"up on the first row", Act::kKey, VK_UP, {0}},
        {"right click 6", Act::kRightClick, 6, {6}},
        {"ctrl click 8", Act::kCtrlClick, 8, {6, 8}},
        {"right click a selected row", Act::kRightClick, 8, {6, 8}},
        {"click 3", Act::kClick, 3, {3}},
        {"end", Act::kKey, VK_END, {29}},
        {"down on the last row", Act::kKey, VK_DOWN, {29}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        switch (step.act) {
            case Act::kClick:
                run.Click(run.CellPoint(run.tree, step.rowOrKey, 1));
                break;
            case Act::kCtrlClick:
                run.Click(run.CellPoint(run.tree, step.rowOrKey, 1), true);
                break;
            case Act::kRightClick:
                run.RightClick(run.CellPoint(run.tree, step.rowOrKey, 1));
                run.Key(VK_ESCAPE);
                break;
            case Act::kKey:
                run.Key(static_cast<WORD>(step.rowOrKey));
                break;
        }
        EXPECT_EQ(SelectedRows(run), step.selected);
        ASSERT_TRUE(run.Running());
    }
}

HDITEMA HeaderItem(MainWindowRun& run, int column) {
    const HWND header = reinterpret_cast<HWND>(::SendMessageA(run.behaviors, LVM_GETHEADER, 0, 0));
    HDITEMA item{};
    item.mask = HDI_FORMAT;
    ::SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(column),
                   reinterpret_cast<LPARAM>(&item));
    return item;
}

// Which column shows an arrow, and which way: "3 down", or "" for none.
std::string SortArrows(MainWindowRun& run) {
    std::string arrows;
    for (int column = 0; column < 4; ++column) {
        const int format = HeaderItem(run, column).fmt;
        if ((format & HDF_SORTUP) != 0) {
            arrows += std::to_string(column) + " up";
        }
        if ((format & HDF_SORTDOWN) != 0) {
            arrows += std::to_string(column) + " down";
        }
    }
    return arrows;
}

TEST(BehaviorList, TheHeaderShowsHowTheShownBehavioursWereSorted) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("arrows.log", SortLog())));
    EXPECT_EQ(SortArrows(run), "");
    Choose(run, 0, 3);
    EXPECT_EQ(SortArrows(run), "");
    run.Click(HeaderPoint(run, 0));
    EXPECT_TRUE(WaitUntil([&] { return SortArrows(run) == "0 up"; }, 2000)) << SortArrows(run);
    run.Click(HeaderPoint(run, 3));
    EXPECT_TRUE(WaitUntil([&] { return SortArrows(run) == "3 down"; }, 2000)) << SortArrows(run);
    uitest::KeepScreenshot(run.window, "behaviour_sort_arrow");
    // Another process, never sorted: no arrow; back to the first: its own sort again.
    Choose(run, 2, 3);
    EXPECT_EQ(SortArrows(run), "");
    Choose(run, 0, 3);
    EXPECT_EQ(SortArrows(run), "3 down");
}

TEST(BehaviorList, TheTimeColumnHoldsAWholeTimeAtTheDefaultSize) {
    MainWindowRun run;
    ASSERT_TRUE(run.DropAndWait(uitest::WriteFile("times.log", CountingLog(3))));
    Choose(run, 2, 3);
    const std::string time = run.Text(run.behaviors, 0, 0);
    ASSERT_EQ(time, "2024-03-05 09:12:00.123");
    const int needed = static_cast<int>(::SendMessageA(run.behaviors, LVM_GETSTRINGWIDTHA, 0,
                                                       reinterpret_cast<LPARAM>(time.c_str())));
    // The list leaves a margin of about 6 pixels on each side of a cell's text.
    EXPECT_GE(ListView_GetColumnWidth(run.behaviors, 0), needed + 12);
    // Column 3 still reaches the list's right edge.
    RECT client{};
    ::GetClientRect(run.behaviors, &client);
    int total = 0;
    for (int column = 0; column < 4; ++column) {
        total += ListView_GetColumnWidth(run.behaviors, column);
    }
    EXPECT_LE(total, client.right + 40);
    EXPECT_GE(total, client.right - 40);
    uitest::KeepScreenshot(run.window, "behaviour_time_column");
}

}  // namespace
