// The process search: on a list model whose view can scroll only so far, and on a real owner-data
// list view in a real window.
#include "tools/find_process.h"
#include "tests/win/gui_support.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

// A list of rows of one height with room for `visible` of them: the top row can go no further
// down than count - visible, as in a list view.
class FakeRows : public FindRows {
  public:
    FakeRows(std::vector<std::string> names, int top, int visible = 4)
        : names_(std::move(names)), top_(top), visible_(visible) {}

    static constexpr int kHeight = 24;
    std::set<int> selected;
    int focus = -1;
    int scrolls = 0;

    int RowCount() const override { return static_cast<int>(names_.size()); }
    int TopIndex() const override { return top_; }
    std::string RowText(int row) const override { return names_.at(static_cast<std::size_t>(row)); }
    int RowHeight(int row) const override {
        EXPECT_TRUE(row >= 0 && row < RowCount());
        return kHeight;
    }
    void ScrollBy(int pixels) override {
        ++scrolls;
        EXPECT_EQ(pixels % kHeight, 0);
        const int lowest = std::max(0, RowCount() - visible_);
        top_ = std::clamp(top_ + pixels / kHeight, 0, lowest);
    }
    void Select(int row) override { selected.insert(row); }

  private:
    std::vector<std::string> names_;
    int top_;
    int visible_;
};

const std::vector<std::string> kNames = {
    "System",        // 0
    "smss.exe",      // 1
    "csrss.exe",     // 2
    "svchost.exe",   // 3
    "services.exe",  // 4
    "SVCHOST.EXE",   // 5
    "explorer.exe",  // 6
    "进程甲.exe",    // 7
    "sv",            // 8
    "癮君子.exe",    // 9: its first trail byte is 'a' (0x61)
    "notepad.exe",   // 10
    "cmd.exe",       // 11
    "zzz.exe",       // 12: the view cannot bring these two to the top
    "zzz2.exe",      // 13
};

TEST(FindProcessByName, WalksAwayFromTheTopRowOneWayWithoutWrapping) {
    struct Case {
        int top;
        const char* text;
        int direction;
        int hit;  // -1: none
        int topAfter;
    };
    const Case cases[] = {
        {0, "svc", 1, 3, 3},
        {0, "SVC", 1, 3, 3},
        {3, "svc", 1, 5, 5},      // the top row itself is never compared
        {0, "System", 1, -1, 0},  // nor is row 0 when it is the top
        {0, "sys", -1, -1, 0},    // nothing above row 0, and no wrap to the end
        {6, "svc", -1, 5, 5},
        {6, "svc", 0, 5, 5},  // any direction but 1 is up
        {6, "svc", 7, 5, 5},
        {0, "host", 1, -1, 0},  // a prefix only
        {0, "svchost.exe.bak", 1, -1, 0},
        {6, "sv", 1, 8, 8},  // the whole name
        {0, "进程", 1, 7, 7},
        {0, "癆", 1, -1, 0},  // 癆 is B0 41, 癮 is B0 61: trail bytes are not letters
        {0, "癮君", 1, 9, 9},
        {9, "", 0, 8, 8},  // the empty text matches the first row compared
        {0, "", 1, 1, 1},
        {0, "ZZ", 1, 12, 10},  // near the end: found, selected, but lower in the view
        {10, "svc", 1, -1, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " from " + std::to_string(c.top) + " direction " +
                     std::to_string(c.direction));
        FakeRows rows(kNames, c.top);
        rows.selected = {2, 11};  // picked by the user before
        rows.focus = 11;
        FindState state;
        EXPECT_EQ(FindProcessByName(rows, state, c.text, c.direction), c.hit >= 0 ? 1 : 0);
        EXPECT_EQ(rows.TopIndex(), c.topAfter);
        // A hit joins the rows selected before; the focus stays.
        std::set<int> selected{2, 11};
        if (c.hit >= 0) {
            selected.insert(c.hit);
        } else {
            EXPECT_EQ(rows.scrolls, 0);
        }
        EXPECT_EQ(rows.selected, selected);
        EXPECT_EQ(rows.focus, 11);
        // Recorded whatever the outcome, for F3.
        EXPECT_EQ(state.lastFindText, c.text);
        EXPECT_EQ(state.lastFindDirection, c.direction);
    }
}

TEST(FindProcessByName, RepeatingContinuesFromTheNewTopRow) {
    FakeRows rows(kNames, 0);
    FindState state;
    // Before any search: the empty text upwards, from the top row 0: nothing.
    EXPECT_EQ(RepeatLastFind(rows, state), 0);

    // A hit comes to the top, so the repeat walks on after it.
    EXPECT_EQ(FindProcessByName(rows, state, "svc", 1), 1);
    EXPECT_EQ(rows.TopIndex(), 3);
    EXPECT_EQ(RepeatLastFind(rows, state), 1);
    EXPECT_EQ(rows.TopIndex(), 5);
    EXPECT_EQ(rows.selected, (std::set<int>{3, 5}));

    // The view stops at row 10, so zzz.exe (row 12) stays below the top: a downward repeat walks
    // from row 10 and finds it again.
    EXPECT_EQ(FindProcessByName(rows, state, "zzz", 1), 1);
    EXPECT_EQ(rows.TopIndex(), 10);
    EXPECT_EQ(RepeatLastFind(rows, state), 1);
    EXPECT_EQ(rows.TopIndex(), 10);
    EXPECT_TRUE(rows.selected.count(12));
    EXPECT_FALSE(rows.selected.count(13));
}

TEST(FindProcessByName, EmptyListFindsNothing) {
    FakeRows rows({}, 0);
    FindState state;
    EXPECT_EQ(FindProcessByName(rows, state, "", 1), 0);
    EXPECT_EQ(FindProcessByName(rows, state, "", -1), 0);
    EXPECT_EQ(rows.scrolls, 0);
}

// A real report-view, owner-data list of 60 rows of which about 10 fit, its texts coming from the
// host's display-text answers.
struct RealList {
    guitest::Host host{320, 260};
    std::vector<std::string> names;
    HWND list = nullptr;

    RealList() {
        for (int i = 0; i < 60; ++i) {
            names.push_back("proc-" + std::to_string(i) + ".exe");
        }
        names[25] = "Target.exe";
        names[57] = "target-进程.exe";
        names[30] = "LONG" + std::string(700, 'x') + ".exe";
        host.cellText = [this](int item, int) {
            return item >= 0 && item < static_cast<int>(names.size())
                       ? names[static_cast<std::size_t>(item)]
                       : std::string();
        };
        list = ::CreateWindowExA(
            0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_OWNERDATA, 0,
            0, 300, 240, host.Handle(), reinterpret_cast<HMENU>(1000), nullptr, nullptr);
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.cx = 280;
        char title[] = "name";
        column.pszText = title;
        ::SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        ::SendMessageA(list, LVM_SETITEMCOUNT, names.size(), 0);
        guitest::Pump();
    }
    UINT State(int row) const {
        return static_cast<UINT>(::SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                                                LVIS_SELECTED | LVIS_FOCUSED));
    }
    int Selected() const {
        int count = 0;
        for (int i = 0; i < static_cast<int>(names.size()); ++i) {
            count += (State(i) & LVIS_SELECTED) != 0 ? 1 : 0;
        }
        return count;
    }
};

TEST(FindProcessByName, OnARealListView) {
    RealList real;
    ListViewRows rows(real.list);
    ASSERT_EQ(rows.RowCount(), 60);
    EXPECT_EQ(rows.RowText(30), real.names[30]);  // longer than the first buffer
    EXPECT_EQ(rows.RowText(57), real.names[57]);
    ASSERT_GT(rows.RowHeight(0), 0);
    const int perPage = static_cast<int>(::SendMessageA(real.list, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(perPage, 3);
    ASSERT_LT(perPage, 30);

    LVITEMA pick{};
    pick.stateMask = pick.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageA(real.list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&pick));

    FindState state;
    EXPECT_EQ(FindProcessByName(rows, state, "TARGET", 1), 1);
    EXPECT_EQ(rows.TopIndex(), 25);
    // Added to the selection; the row picked before keeps its selection and the focus.
    EXPECT_EQ(real.State(25), static_cast<UINT>(LVIS_SELECTED));
    EXPECT_EQ(real.State(2), static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
    EXPECT_EQ(real.Selected(), 2);

    // Near the end: shown in the last page, not at its top; a repeat finds it again.
    EXPECT_EQ(RepeatLastFind(rows, state), 1);
    EXPECT_EQ(rows.TopIndex(), 60 - perPage);
    EXPECT_EQ(real.State(57), static_cast<UINT>(LVIS_SELECTED));
    EXPECT_EQ(RepeatLastFind(rows, state), 1);
    EXPECT_EQ(rows.TopIndex(), 60 - perPage);
    EXPECT_EQ(real.Selected(), 3);

    EXPECT_EQ(FindProcessByName(rows, state, "ta", -1), 1);
    EXPECT_EQ(rows.TopIndex(), 25);
}

}  // namespace
