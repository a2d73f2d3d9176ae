// The owner-drawn process list on a real list view under Wine: rows drawn from the `rows` table
// (colours, focus bar, handling column, indent, icon, expand box, clipped texts) read back as
// pixels, the row height, and the mouse messages it swallows.
#include "controls/list_ctrl_ex.h"
#include "res/resource.h"
#include "tests/win/gui_support.h"
#include "win/handles.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using guitest::Host;
using guitest::Pixels;

constexpr COLORREF kEven = RGB(240, 254, 229);
constexpr COLORREF kOdd = RGB(255, 255, 255);
constexpr COLORREF kFocusBar = RGB(191, 225, 128);
constexpr COLORREF kMarked = RGB(255, 102, 51);
constexpr COLORREF kMarkedHandling = RGB(255, 85, 0);
constexpr COLORREF kIconRed = RGB(220, 0, 0);
constexpr DWORD kDialogListStyle = 0x50811801;  // as in the main window's template

// A 16 x 16 solid red icon, so that where it lands can be seen exactly.
HIMAGELIST RedImageList() {
    HIMAGELIST list = ::ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 1, 1);
    win::WindowDc screen(nullptr);
    win::Bitmap colour(::CreateCompatibleBitmap(screen.Get(), 16, 16));
    win::Bitmap mask(::CreateBitmap(16, 16, 1, 1, nullptr));
    {
        win::MemoryDc dc(::CreateCompatibleDC(screen.Get()));
        win::SelectGuard selected(dc.Get(), colour.Get());
        win::Brush red(::CreateSolidBrush(kIconRed));
        const RECT all{0, 0, 16, 16};
        ::FillRect(dc.Get(), &all, red.Get());
    }
    {
        win::MemoryDc dc(::CreateCompatibleDC(nullptr));
        win::SelectGuard selected(dc.Get(), mask.Get());
        ::PatBlt(dc.Get(), 0, 0, 16, 16, BLACKNESS);  // all opaque
    }
    ::ImageList_Add(list, colour.Get(), mask.Get());
    return list;
}

// The main window's process list: the template's list view taken over, its ten columns, row
// height 24, grid lines, full-row selection; the host answers the cell texts from the rows.
struct ListFixture {
    Host host{1100, 320};
    CListCtrlEx list;
    HIMAGELIST red = RedImageList();
    // Text without anti-aliasing, so that glyph pixels carry the exact text colour whatever fonts
    // the machine has.
    win::Font font{::CreateFontA(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                                 FF_SWISS, "Tahoma")};

    explicit ListFixture(int height = 24) {
        const HWND window =
            ::CreateWindowExA(0, WC_LISTVIEWA, "", kDialogListStyle, 0, 0, 1100, 300, host.Handle(),
                              reinterpret_cast<HMENU>(IDC_TREE_LIST), nullptr, nullptr);
        EXPECT_TRUE(list.Attach(window));
        list.Send(WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
        const char* titles[] = {"A", "PID", "PPID", "B", "C", "D", "E", "F", "G", "H"};
        const int widths[] = {200, 50, 50, 260, 180, 50, 80, 80, 50, 0};
        for (int i = 0; i < 10; ++i) {
            list.InsertColumn(i, titles[i], widths[i]);
        }
        list.smallImageList = red;
        ListView_SetImageList(window, red, LVSIL_SMALL);
        ListView_SetExtendedListViewStyleEx(window, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                                            LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
        SetRowHeight(height);
        host.cellText = [this](int item, int sub) -> std::string {
            if (item < 0 || static_cast<std::size_t>(item) >= list.rows.size()) {
                return "";
            }
            const ProcessRow& r = list.rows[static_cast<std::size_t>(item)];
            switch (sub) {
                case 0:
                    return r.name;
                case 1:
                    return std::to_string(r.pid);
                case 3:
                    return r.imagePath;
                case 8:
                    return r.handling;
                default:
                    return "";
            }
        };
    }
    ~ListFixture() { ::ImageList_Destroy(red); }

    void SetRowHeight(int height) {
        list.rowHeight = height;
        const RECT r = list.WindowRect();
        WINDOWPOS pos{list.Handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top, 0x0216};
        list.Send(WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    }
    void Show(const std::vector<ProcessRow>& rows, int count = -1) {
        list.rows = rows;
        ListView_SetItemCountEx(list.Handle(), count < 0 ? static_cast<int>(rows.size()) : count,
                                0);
        ListView_SetItemState(list.Handle(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        ::SetFocus(host.Handle());
    }
    Pixels Read() {
        list.Invalidate(true);
        guitest::Pump();
        return Pixels::OfWindow(list.Handle());
    }
    RECT Row(int i) const {
        RECT r{};
        r.left = LVIR_BOUNDS;
        list.Send(LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
        return r;
    }
    RECT Label(int i) const {
        RECT r{};
        r.left = LVIR_LABEL;
        list.Send(LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
        return r;
    }
    RECT Cell(int i, int column) const {
        RECT r{};
        r.top = column;
        r.left = LVIR_LABEL;
        list.Send(LVM_GETSUBITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
        return r;
    }
    // A point inside row i of a column whose text is empty (column 5), off the grid lines.
    POINT Background(int i) const {
        const RECT c = Cell(i, 5);
        return POINT{(c.left + c.right) / 2, (c.top + c.bottom) / 2};
    }
};

ProcessRow Row(const char* name, const char* handling = "system") {
    ProcessRow r;
    r.name = name;
    r.handling = handling;
    return r;
}

TEST(ListCtrlEx, RowHeightIsAskedWhenSetAndTheSystemsOtherwise) {
    ListFixture f(24);
    f.Show({Row("a"), Row("b")});
    EXPECT_EQ(f.Row(0).bottom - f.Row(0).top, 24);
    EXPECT_EQ(f.Row(1).top - f.Row(0).top, 24);
    // With 0 the list keeps the height the system proposes for its font, well below 24.
    ListFixture plain(0);
    plain.Show({Row("a")});
    const int proposed = plain.Row(0).bottom - plain.Row(0).top;
    EXPECT_GT(proposed, 10);
    EXPECT_LT(proposed, 24);
}

TEST(ListCtrlEx, StripesAndCustomColoursNeedBothColours) {
    struct Case {
        uint32_t text, back;
        COLORREF background;  // for row index i below
        COLORREF textColour;
    };
    const COLORREF grey = RGB(198, 198, 198);
    const COLORREF pale = RGB(230, 230, 230);
    const std::vector<Case> cases = {
        {0, 0, kEven, RGB(0, 0, 0)},     // row 0
        {0, 0, kOdd, RGB(0, 0, 0)},      // row 1
        {grey, pale, pale, grey},        // row 2: both set
        {0, pale, kOdd, RGB(0, 0, 0)},   // row 3: only the background
        {grey, 0, kEven, RGB(0, 0, 0)},  // row 4: only the text
        {kMarked, pale, pale, kMarked},  // row 5: an ended, marked process
    };
    ListFixture f;
    std::vector<ProcessRow> rows;
    for (const Case& c : cases) {
        ProcessRow r = Row("MMMM");
        r.textColor = c.text;
        r.backColor = c.back;
        rows.push_back(r);
    }
    f.Show(rows);
    const Pixels p = f.Read();
    p.Keep("list_colours");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const int row = static_cast<int>(i);
        const POINT bg = f.Background(row);
        EXPECT_EQ(p.At(bg.x, bg.y), cases[i].background) << "row " << i;
        EXPECT_GT(p.Count(f.Cell(row, 0), cases[i].textColour), 5) << "row " << i;
    }
}

TEST(ListCtrlEx, HighlightAndFocusBar) {
    struct Case {
        const char* name;
        bool focusOnList;
        bool showSelectionAlways;
        bool selected;
        bool focused;
        COLORREF middle;  // inside the row
        COLORREF edge;    // the row's top pixel row
        bool blackText;
    };
    const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    const Case cases[] = {
        {"selected, list without focus", false, false, true, false, kOdd, kOdd, true},
        {"selected, list with focus", true, false, true, false, highlight, highlight, false},
        {"selected, shown always", false, true, true, false, highlight, highlight, false},
        {"focused row", false, false, false, true, kFocusBar, kEven, true},
        {"focused and highlighted", true, false, true, true, kFocusBar, kEven, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListFixture f;
        f.Show({Row("a"), Row("MMMM")});
        if (c.showSelectionAlways) {
            f.list.SetStyle(f.list.Style() | LVS_SHOWSELALWAYS);
        }
        UINT state = (c.selected ? LVIS_SELECTED : 0) | (c.focused ? LVIS_FOCUSED : 0);
        ListView_SetItemState(f.list.Handle(), 1, state, LVIS_SELECTED | LVIS_FOCUSED);
        if (c.focusOnList) {
            ::SetFocus(f.list.Handle());
        }
        const Pixels p = f.Read();
        const POINT bg = f.Background(1);
        EXPECT_EQ(p.At(bg.x, bg.y), c.middle);
        EXPECT_EQ(p.At(bg.x, f.Row(1).top), c.edge);
        EXPECT_EQ(p.Count(f.Cell(1, 0), RGB(0, 0, 0)) > 5, c.blackText);
    }
}

TEST(ListCtrlEx, HandlingColumnColourFollowsTheHandlingAlone) {
    struct Case {
        const char* handling;
        bool ordinary;
    };
    const Case cases[] = {{"system", true}, {"SYSTEM", true},   {"Report", true}, {"", true},
                          {"kill", false},  {"system ", false}, {"处理", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.handling);
        ListFixture f;
        // The same handling on a plain row, a row with custom colours, a highlighted row and the
        // focused row. The cells show M's, whose full pixels carry the exact text colour.
        std::vector<ProcessRow> rows(4, Row("MMMM", c.handling));
        rows[1].textColor = RGB(198, 198, 198);
        rows[1].backColor = RGB(230, 230, 230);
        f.Show(rows);
        f.host.cellText = [](int, int sub) -> std::string {
            return sub == 0 || sub == 8 ? "MMMM" : "";
        };
        ListView_SetItemState(f.list.Handle(), 2, LVIS_SELECTED, LVIS_SELECTED);
        ListView_SetItemState(f.list.Handle(), 3, LVIS_FOCUSED, LVIS_FOCUSED);
        ::SetFocus(f.list.Handle());
        const Pixels p = f.Read();
        const COLORREF expected = c.ordinary ? RGB(0, 0, 0) : kMarkedHandling;
        for (int i = 0; i < 4; ++i) {
            EXPECT_GT(p.Count(f.Cell(i, 8), expected), 5) << "row " << i;
        }
        // The plain row's other texts: black, or the marked colour.
        EXPECT_GT(p.Count(f.Cell(0, 0), c.ordinary ? RGB(0, 0, 0) : kMarked), 5);
    }
}

// The first and last x of pixels with this colour in a rectangle, or {-1, -1}.
std::pair<int, int> Span(const Pixels& p, const RECT& area, COLORREF colour) {
    int first = -1;
    int last = -1;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (p.At(x, y) == colour) {
                first = first < 0 ? x : std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    return {first, last};
}

TEST(ListCtrlEx, BoxIconAndTextPositionsFollowTheIndent) {
    struct Case {
        int indent;
        ExpandState expandState;
    };
    const Case cases[] = {{0, ExpandState::kNone},
                          {0, ExpandState::kCollapsed},
                          {4, ExpandState::kExpanded},
                          {4, ExpandState::kNone},
                          {2, ExpandState::kCollapsed}};
    ListFixture f;
    std::vector<ProcessRow> rows;
    for (const Case& c : cases) {
        ProcessRow r = Row("MMMM");
        r.indent = c.indent;
        r.expandState = c.expandState;
        r.iconIndex = 0;
        rows.push_back(r);
    }
    f.Show(rows);
    const Pixels p = f.Read();
    p.Keep("list_boxes");

    win::Bitmap plus(::LoadBitmapW(::GetModuleHandleA(nullptr), MAKEINTRESOURCEW(IDB_PLUS)));
    win::MemoryDc dc(::CreateCompatibleDC(nullptr));
    win::SelectGuard selected(dc.Get(), plus.Get());
    const COLORREF green = ::GetPixel(dc.Get(), 5, 7);
    const COLORREF tile = ::GetPixel(dc.Get(), 3, 3);

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        const int row = static_cast<int>(i);
        const RECT label = f.Label(row);
        const int shift = label.left + cases[i].indent * 8;
        const RECT rowRect = f.Row(row);
        // The icon: 16 x 16 from (L + 8n + 2, top + 4).
        const auto icon = Span(p, rowRect, kIconRed);
        EXPECT_EQ(icon.first, shift + 2);
        EXPECT_EQ(icon.second, shift + 17);
        EXPECT_EQ(p.At(shift + 2, label.top + 4), kIconRed);
        EXPECT_EQ(p.At(shift + 17, label.top + 19), kIconRed);
        EXPECT_NE(p.At(shift + 2, label.top + 3), kIconRed);
        EXPECT_NE(p.At(shift + 2, label.top + 20), kIconRed);
        // The box picture: 16 x 16 from (L + 8n - 18, top + 4), or nothing.
        const RECT box{shift - 18, label.top + 4, shift - 2, label.top + 20};
        if (cases[i].expandState == ExpandState::kNone) {
            EXPECT_EQ(p.Count(RECT{rowRect.left, rowRect.top, shift, rowRect.bottom}, tile), 0);
        } else {
            EXPECT_EQ(p.At(box.left + 3, box.top + 3), tile);
            EXPECT_EQ(p.At(box.left + 5, box.top + 7), green);
            // plus shows the vertical stroke, minus does not
            EXPECT_EQ(p.At(box.left + 7, box.top + 5) == green,
                      cases[i].expandState == ExpandState::kCollapsed);
            EXPECT_NE(p.At(box.left - 1, box.top + 7), green);
            EXPECT_NE(p.At(box.right, box.top + 7), green);
        }
        // The text starts 22 pixels after the indent.
        const auto text = Span(p, f.Cell(row, 0), RGB(0, 0, 0));
        EXPECT_GE(text.first, shift + 22);
        EXPECT_LE(text.first, shift + 24);
    }
}

// The first and last x of pixels that differ from a colour, or {-1, -1}.
std::pair<int, int> InkSpan(const Pixels& p, const RECT& area, COLORREF background) {
    int first = -1;
    int last = -1;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            if (p.At(x, y) != background) {
                first = first < 0 ? x : std::min(first, x);
                last = std::max(last, x);
            }
        }
    }
    return {first, last};
}

TEST(ListCtrlEx, LongTextIsCutAtTheCellEdgeWithoutEllipsis) {
    ListFixture f;
    f.Show({Row("a")});
    f.host.cellText = [](int, int sub) -> std::string {
        return sub == 1 ? std::string(40, 'M') : "";
    };
    const Pixels p = f.Read();
    p.Keep("list_clipped");
    const RECT cell = f.Cell(0, 1);  // 50 pixels wide
    const int top = cell.top + 3;
    const int bottom = cell.bottom - 3;
    // Ink from the text's start up to, not into, the last pixel column of the cell.
    const auto ink = InkSpan(p, RECT{cell.left + 1, top, cell.right - 1, bottom}, kEven);
    EXPECT_GE(ink.first, cell.left + 1);
    EXPECT_LE(ink.first, cell.left + 4);
    EXPECT_GE(ink.second, cell.right - 4);
    // Nothing runs on into the next column, whose own text is empty.
    const RECT next = f.Cell(0, 2);
    EXPECT_EQ(InkSpan(p, RECT{next.left + 1, top, next.right - 2, bottom}, kEven).first, -1);
    // Letters at mid-height right up to the edge: an ellipsis would leave only baseline dots.
    const int middle = (cell.top + cell.bottom) / 2;
    EXPECT_NE(InkSpan(p, RECT{cell.right - 8, middle - 1, cell.right - 1, middle + 2}, kEven).first,
              -1);
}

TEST(ListCtrlEx, ItemsBeyondTheRowsDrawNothing) {
    ListFixture f;
    f.Show({Row("a"), Row("b")}, 4);  // the owner broke its promise: 4 items, 2 rows
    const Pixels p = f.Read();
    const POINT second = f.Background(1);
    EXPECT_EQ(p.At(second.x, second.y), kOdd);
    const POINT third = f.Background(2);
    EXPECT_NE(p.At(third.x, third.y), kEven);  // row 2 would be striped green
    EXPECT_EQ(p.Count(f.Row(3), kIconRed), 0);
}

TEST(ListCtrlEx, ClickNotifiesOnceDoubleClickAndColumnClickReachNobody) {
    ListFixture f;
    f.Show({Row("a"), Row("b"), Row("c")});
    // An ordinary list in the same window shows what the host would otherwise get.
    const HWND plain = ::CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0,
                                         200, 300, 100, f.host.Handle(), nullptr, nullptr, nullptr);
    LVCOLUMNA column{LVCF_WIDTH, 0, 100, nullptr, 0, 0, 0, 0, 0, 0, 0};
    ::SendMessageA(plain, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));

    const RECT row = f.Row(1);
    const LPARAM at = MAKELPARAM(row.left + 300, (row.top + row.bottom) / 2);
    f.list.Send(WM_LBUTTONDOWN, MK_LBUTTON, at);
    f.list.Send(WM_LBUTTONUP, 0, at);
    guitest::Pump();
    EXPECT_EQ(f.host.CountNotices(static_cast<UINT>(NM_CLICK)), 1);
    EXPECT_EQ(ListView_GetNextItem(f.list.Handle(), -1, LVNI_SELECTED), 1);

    const RECT other = f.Row(2);
    const LPARAM there = MAKELPARAM(other.left + 300, (other.top + other.bottom) / 2);
    f.list.Send(WM_LBUTTONDBLCLK, MK_LBUTTON, there);
    f.list.Send(WM_LBUTTONUP, 0, there);
    guitest::Pump();
    EXPECT_EQ(f.host.CountNotices(static_cast<UINT>(NM_DBLCLK)), 0);
    EXPECT_EQ(f.host.CountNotices(static_cast<UINT>(NM_CLICK)), 1);
    EXPECT_EQ(ListView_GetNextItem(f.list.Handle(), -1, LVNI_SELECTED), 1);

    struct Case {
        HWND list;
        int columnClicks;
    };
    for (const Case& c : {Case{f.list.Handle(), 0}, Case{plain, 1}}) {
        const HWND header = ListView_GetHeader(c.list);
        const int before = f.host.CountNotices(static_cast<UINT>(LVN_COLUMNCLICK));
        ::SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 5));
        ::SendMessageA(header, WM_LBUTTONUP, 0, MAKELPARAM(20, 5));
        guitest::Pump();
        EXPECT_EQ(f.host.CountNotices(static_cast<UINT>(LVN_COLUMNCLICK)) - before, c.columnClicks);
    }
}

TEST(ListCtrlEx, ListRedrawInvalidatesTheWholeList) {
    ListFixture f;
    f.Show({Row("a")});
    guitest::Pump();
    ::ValidateRect(f.list.Handle(), nullptr);
    EXPECT_EQ(f.list.Send(WM_LIST_REDRAW), 1);
    RECT update{};
    ASSERT_TRUE(::GetUpdateRect(f.list.Handle(), &update, FALSE));
    const RECT client = f.list.ClientRect();
    EXPECT_TRUE(::EqualRect(&update, &client));
}

// Whatever the list asks to have drawn, nothing lands on its header: the header was once seen
// overdrawn by a row after a message box over the list, a refresh and a search.
TEST(ListCtrlEx, RowsAreNeverPaintedUnderTheHeader) {
    ListFixture f;
    f.Show({Row("a"), Row("b"), Row("c")});
    guitest::PumpFor(200);
    const HWND header = f.list.header.Handle();
    ASSERT_NE(header, nullptr);
    RECT place{};
    ::GetWindowRect(header, &place);
    ASSERT_GT(place.bottom - place.top, 10);
    win::WindowDc screen(nullptr);
    const Pixels before = Pixels::OfDc(screen.Get(), place);

    // A row whose rectangle lies where the header is, drawn on the list's own device context.
    const RECT client = f.list.ClientRect();
    win::WindowDc listDc(f.list.Handle());
    DRAWITEMSTRUCT draw{};
    draw.CtlType = ODT_LISTVIEW;
    draw.CtlID = IDC_TREE_LIST;
    draw.itemID = 1;
    draw.itemAction = ODA_DRAWENTIRE;
    draw.hwndItem = f.list.Handle();
    draw.hDC = listDc.Get();
    draw.rcItem = RECT{0, 0, client.right, place.bottom - place.top};
    f.host.Send(WM_DRAWITEM, IDC_TREE_LIST, reinterpret_cast<LPARAM>(&draw));
    ::GdiFlush();

    const Pixels after = Pixels::OfDc(screen.Get(), place);
    int changed = 0;
    for (int y = 0; y < before.Height(); ++y) {
        for (int x = 0; x < before.Width(); ++x) {
            changed += before.At(x, y) != after.At(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(changed, 0);
    if (changed != 0) {
        after.Keep("header_overdrawn");
    }
}

// The private message comes from the WM_APP range: the list-view's class owns WM_USER and above.
TEST(ListCtrlEx, ListRedrawIsAPrivateMessageOfTheApplicationRange) {
    EXPECT_GE(WM_LIST_REDRAW, static_cast<UINT>(WM_APP));
    EXPECT_LT(WM_LIST_REDRAW, 0xC000u);
}

TEST(ListCtrlEx, ColumnsGiveTheHeaderItsTitlesAndRowsAreInsertedByIndex) {
    ListFixture f;
    ASSERT_EQ(f.list.header.titles.size(), 10u);
    EXPECT_EQ(f.list.header.titles[1], "PID");
    EXPECT_EQ(f.list.InsertColumn(1, "X", 30), 1);
    EXPECT_EQ(f.list.header.titles[1], "X");
    EXPECT_EQ(f.list.header.titles[2], "PID");

    f.list.rows.clear();
    EXPECT_EQ(f.list.InsertRow(0, Row("b")), 0);
    EXPECT_EQ(f.list.InsertRow(0, Row("a")), 0);
    EXPECT_EQ(f.list.InsertRow(2, Row("c")), 0);
    EXPECT_EQ(f.list.InsertRow(4, Row("x")), -1);
    EXPECT_EQ(f.list.InsertRow(-1, Row("x")), -1);
    ASSERT_EQ(f.list.rows.size(), 3u);
    EXPECT_EQ(f.list.rows[0].name + f.list.rows[1].name + f.list.rows[2].name, "abc");
}

TEST(ListCtrlEx, SelectOnlyLeavesTheOneRowSelectedFocusedAndTheAnchor) {
    // A few rows chosen (dropped one by one) and more than the list control looks for (cleared
    // all at once).
    for (const int chosen : {3, 100}) {
        ListFixture f;
        f.Show(std::vector<ProcessRow>(300, Row("p")));
        const HWND list = f.list.Handle();
        for (int row = 0; row < chosen; ++row) {
            ListView_SetItemState(list, row * 2, LVIS_SELECTED, LVIS_SELECTED);
        }
        ListView_SetItemState(list, 4, LVIS_FOCUSED, LVIS_FOCUSED);
        ASSERT_EQ(ListView_GetSelectedCount(list), static_cast<UINT>(chosen)) << chosen;
        f.list.SelectOnly(251);
        EXPECT_EQ(ListView_GetSelectedCount(list), 1u) << chosen;
        EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_SELECTED), 251) << chosen;
        EXPECT_EQ(ListView_GetNextItem(list, -1, LVNI_FOCUSED), 251) << chosen;
        EXPECT_EQ(ListView_GetSelectionMark(list), 251) << chosen;
    }
}

TEST(ListCtrlEx, ConstructionTakesTheSystemImageListsAndNewRowsHaveNoBoxOrIcon) {
    CListCtrlEx list;
    ASSERT_NE(list.smallImageList, nullptr);
    ASSERT_NE(list.largeImageList, nullptr);
    int cx = 0;
    int cy = 0;
    ::ImageList_GetIconSize(list.smallImageList, &cx, &cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(list.rowHeight, 0);
    const ProcessRow row;
    EXPECT_EQ(row.expandState, ExpandState::kNone);
    EXPECT_EQ(row.iconIndex, -1);
}

}  // namespace
