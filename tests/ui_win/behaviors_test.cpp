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
    run.Call([&](CVantrelDlg& d) { toggle = d.sortAscending; });
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
