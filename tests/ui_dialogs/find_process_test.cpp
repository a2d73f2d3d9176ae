// The process search: on a list model whose view can scroll only so far, and on a real owner-data
// list view in a real window.
#include "ui/find_process.h"
#include "engine/text.h"
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
    void SelectOnly(int row) override {
        selected = {row};
        focus = row;
    }
    int64_t RowKey(int row) const override {
        return row < static_cast<int>(keys.size()) ? keys[static_cast<std::size_t>(row)] : row * 10;
    }
    // Keys of the first rows, when a test moves items between rows; the others are 10 x row.
    std::vector<int64_t> keys;

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

TEST(FindProcessByName, WalksFromTheTopRowItselfOneWayWithoutWrapping) {
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
        {3, "svc", 1, 3, 3},     // the top row itself is compared
        {0, "System", 1, 0, 0},  // row 0 too when it is the top
        {0, "sys", -1, 0, 0},
        {1, "sys", -1, 0, 0},
        {1, "cmd", -1, -1, 1},  // nothing above, and no wrap to the end
        {6, "svc", -1, 5, 5},
        {6, "svc", 0, 5, 5},  // any direction but 1 is up
        {6, "svc", 7, 5, 5},
        {0, "host", 1, -1, 0},  // a prefix only
        {0, "svchost.exe.bak", 1, -1, 0},
        {6, "sv", 1, 8, 8},  // the whole name
        {0, "进程", 1, 7, 7},
        {0, "癆", 1, -1, 0},  // 癆 is B0 41, 癮 is B0 61: trail bytes are not letters
        {0, "癮君", 1, 9, 9},
        {9, "", 0, 9, 9},  // the empty text matches the first row compared
        {0, "", 1, 0, 0},
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
        if (c.hit >= 0) {
            // A hit is the only selected row and the focus.
            EXPECT_EQ(rows.selected, std::set<int>{c.hit});
            EXPECT_EQ(rows.focus, c.hit);
            EXPECT_TRUE(state.hasLastHit);
            EXPECT_EQ(state.lastHitRow, c.hit);
        } else {
            EXPECT_EQ(rows.scrolls, 0);
            EXPECT_EQ(rows.selected, (std::set<int>{2, 11}));
            EXPECT_EQ(rows.focus, 11);
            EXPECT_FALSE(state.hasLastHit);
        }
        // Recorded whatever the outcome, for F3.
        EXPECT_EQ(state.lastFindText, c.text);
        EXPECT_EQ(state.lastFindDirection, c.direction);
    }
}

TEST(FindProcessByName, RepeatingGoesOnAfterTheLastHitToTheEndAndNoFurther) {
    FakeRows rows(kNames, 0);
    FindState state;
    // Before any search there is nothing to repeat.
    EXPECT_EQ(RepeatLastFind(rows, state), 0);
    EXPECT_EQ(rows.scrolls, 0);
    EXPECT_TRUE(rows.selected.empty());

    EXPECT_EQ(FindProcessByName(rows, state, "svc", 1), 1);
    EXPECT_EQ(rows.TopIndex(), 3);
    EXPECT_EQ(RepeatLastFind(rows, state), 1);
    EXPECT_EQ(rows.TopIndex(), 5);
    EXPECT_EQ(rows.selected, std::set<int>{5});

    // The view stops at row 10, so zzz.exe (row 12) stays below the top; the repeat still goes on
    // after it, to zzz2.exe, and then finds nothing more instead of the same row again.
    EXPECT_EQ(FindProcessByName(rows, state, "zzz", 1), 1);
    EXPECT_EQ(rows.focus, 12);
    EXPECT_EQ(rows.TopIndex(), 10);
    EXPECT_EQ(RepeatLastFind(rows, state), 1);
    EXPECT_EQ(rows.focus, 13);
    EXPECT_EQ(RepeatLastFind(rows, state), 0);
    EXPECT_EQ(rows.selected, std::set<int>{13});
    EXPECT_EQ(rows.TopIndex(), 10);
}

TEST(FindProcessByName, TheLastHitIsFoundByItsKeyOrForgottenWhenGone) {
    FakeRows rows(kNames, 0);
    FindState state;
    ASSERT_EQ(FindProcessByName(rows, state, "svc", 1), 1);  // row 3, key 30
    // Two rows came in above it: its item is now row 5, and the search goes on after that.
    rows.keys = {0, 10, 11, 12, 20, 30};
    EXPECT_EQ(FindProcessByName(rows, state, "s", 1), 1);
    EXPECT_EQ(rows.focus, 8);  // "sv", after row 5
    // The item of the last hit is gone: the search starts at the top row itself.
    rows.keys = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    rows.ScrollBy((3 - rows.TopIndex()) * FakeRows::kHeight);
    ASSERT_EQ(rows.TopIndex(), 3);
    EXPECT_EQ(FindProcessByName(rows, state, "svc", 1), 1);
    EXPECT_EQ(rows.focus, 3);
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
    ::SendMessageA(real.list, LVM_SETITEMSTATE, 4, reinterpret_cast<LPARAM>(&pick));

    FindState state;
    EXPECT_EQ(FindProcessByName(rows, state, "TARGET", 1), 1);
    EXPECT_EQ(rows.TopIndex(), 25);
    // The only selected row, and the focus.
    EXPECT_EQ(real.State(25), static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
    EXPECT_EQ(real.State(2), 0u);
    EXPECT_EQ(real.Selected(), 1);

    // Near the end: shown in the last page, not at its top; a repeat goes on after it and finds
    // nothing more.
    EXPECT_EQ(RepeatLastFind(rows, state), 1);
    EXPECT_EQ(rows.TopIndex(), 60 - perPage);
    EXPECT_EQ(real.State(57), static_cast<UINT>(LVIS_SELECTED | LVIS_FOCUSED));
    EXPECT_EQ(RepeatLastFind(rows, state), 0);
    EXPECT_EQ(rows.TopIndex(), 60 - perPage);
    EXPECT_EQ(real.Selected(), 1);

    EXPECT_EQ(FindProcessByName(rows, state, "ta", -1), 1);
    EXPECT_EQ(rows.TopIndex(), 25);
    EXPECT_EQ(real.Selected(), 1);
}

// A host that cuts texts as the main window does: never inside a double-byte character.
class CharacterCuttingHost : public guitest::Host {
  public:
    CharacterCuttingHost() : Host(320, 260) {}
    std::string text;

  protected:
    Result OnNotify(NMHDR* header) override {
        if (header->code == LVN_GETDISPINFOA) {
            auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
            if ((info->item.mask & LVIF_TEXT) != 0 && info->item.pszText != nullptr &&
                info->item.cchTextMax > 0) {
                CopyToBuffer(info->item.pszText, static_cast<std::size_t>(info->item.cchTextMax),
                             text);
            }
            return 0;
        }
        return Host::OnNotify(header);
    }
};

// Cut before a double-byte character, a text ends two bytes short of the buffer: it is asked for
// again with more room, not taken as whole.
TEST(FindProcessByName, AGbkTextCutBeforeADoubleByteCharacterIsAskedForAgain) {
    CharacterCuttingHost host;
    const HWND list = ::CreateWindowExA(
        0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_OWNERDATA, 0, 0,
        300, 240, host.Handle(), reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    LVCOLUMNA column{};
    column.mask = LVCF_WIDTH;
    column.cx = 280;
    ::SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    ::SendMessageA(list, LVM_SETITEMCOUNT, 1, 0);
    guitest::Pump();
    ListViewRows rows(list);
    struct Case {
        std::string text;
    };
    std::string han;
    for (int i = 0; i < 200; ++i) {
        han += "汉";
    }
    const Case cases[] = {{han.substr(0, 258)}, {"a" + han.substr(0, 300)}, {han}, {"short"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        host.text = c.text;
        EXPECT_EQ(rows.RowText(0), c.text);
    }
}

}  // namespace
