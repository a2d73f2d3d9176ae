// The splitter bar between two panes of a real window under Wine: where SetPanes puts it, what a
// drag does to the bar and the panes, the band it draws, its cursor and its notification.
#include "controls/splitter_bar.h"
#include "tests/win/gui_support.h"
#include "win/handles.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

namespace {

using guitest::Host;
using guitest::Pixels;

constexpr int kWidth = 400;
constexpr int kHeight = 300;

// The main window's arrangement on a 400 x 300 client: process list over rows 0 to 99, behaviour
// list from 100 for 180 rows, the 5-pixel bar at 100.
struct SplitterFixture {
    Host host{kWidth, kHeight};
    HWND upper = MakePane(1000);
    HWND lower = MakePane(1001);
    CSplitterBar bar;
    const int border = ::GetSystemMetrics(SM_CXBORDER);

    SplitterFixture() {
        bar.horizontal = true;
        EXPECT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, RECT{0, 0, 0, 0}, host.Handle(), 998));
        ::MoveWindow(upper, 1, 0, kWidth - 2, kHeight - 200, TRUE);
        bar.SetPanes(upper, lower);
        ::MoveWindow(lower, 1, kHeight - 200, kWidth - 2, 180, TRUE);
        bar.Move(1, kHeight - 200, kWidth - 2, 5, true);
        guitest::Pump();
    }
    HWND MakePane(int id) {
        return ::CreateWindowExA(
            0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, 0, 0, 10, 10,
            host.Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
    RECT InHost(HWND hwnd) const { return win::Window(hwnd).WindowRectIn(host.Handle()); }
    void Press(POINT p) { bar.Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y)); }
    void Drag(POINT p) { bar.Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y)); }
    void Release(POINT p) { bar.Send(WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y)); }
    Pixels Screen(const RECT& area) const {
        win::WindowDc dc(host.Handle());
        return Pixels::OfDc(dc.Get(), area);
    }
};

TEST(SplitterBar, SetPanesLaysTheBarOnTheFirstPanesBottomAndFitsThePanes) {
    Host host(kWidth, kHeight);
    CSplitterBar bar;
    bar.horizontal = true;
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE, RECT{0, 0, 0, 0}, host.Handle(), 998));
    const HWND upper = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 0, 380, 120,
                                         host.Handle(), nullptr, nullptr, nullptr);
    const HWND lower = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 140, 380, 150,
                                         host.Handle(), nullptr, nullptr, nullptr);
    bar.SetPanes(upper, lower);
    const int h = ::GetSystemMetrics(SM_CXFRAME) / 2;
    const int b = ::GetSystemMetrics(SM_CXBORDER);
    const RECT r = bar.WindowRectIn(host.Handle());
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 120 - h);
    EXPECT_EQ(r.right, 390);
    EXPECT_EQ(r.bottom, 120 + h);
    const RECT first = win::Window(upper).WindowRectIn(host.Handle());
    const RECT second = win::Window(lower).WindowRectIn(host.Handle());
    EXPECT_EQ(first.top, 0);
    EXPECT_EQ(first.bottom, r.top + b);
    EXPECT_EQ(second.top, r.bottom - b);
    EXPECT_EQ(second.bottom, 290);
    EXPECT_EQ(first.left, 10);
    EXPECT_EQ(second.right, 390);
}

TEST(SplitterBar, DropMovesTheBarWithinTheClientAreaAndFitsThePanes) {
    struct Case {
        const char* name;
        int releaseY;     // bar client coordinates; the press is at y = 2
        int expectedTop;  // the bar's top in the host's client area afterwards
    };
    const int top = kHeight - 200;
    const Case cases[] = {
        {"release where pressed", 2, top + 2},
        {"up", -60, top - 60},
        {"down", 70, top + 70},
        {"above the client area", -top - 500, 0},
        {"below the client area", 1000, kHeight},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SplitterFixture f;
        const RECT lowerBefore = f.InHost(f.lower);
        f.Press(POINT{50, 2});
        EXPECT_TRUE(f.bar.dragging);
        EXPECT_EQ(::GetCapture(), f.bar.Handle());
        f.Drag(POINT{50, c.releaseY / 2});
        f.Release(POINT{50, c.releaseY});

        const RECT bar = f.InHost(f.bar.Handle());
        EXPECT_EQ(bar.top, c.expectedTop);
        EXPECT_EQ(bar.bottom - bar.top, 5);
        EXPECT_EQ(bar.left, 1);
        const RECT upper = f.InHost(f.upper);
        const RECT lower = f.InHost(f.lower);
        EXPECT_EQ(upper.top, 0);
        EXPECT_EQ(upper.bottom, bar.top + f.border);
        // The lower pane keeps its bottom; with no room left it is empty, never negative.
        EXPECT_EQ(lower.bottom, lowerBefore.bottom);
        EXPECT_EQ(lower.top, std::min(bar.bottom - f.border, lowerBefore.bottom));
        EXPECT_GE(lower.bottom - lower.top, 0);
        EXPECT_FALSE(f.bar.dragging);
        EXPECT_NE(::GetCapture(), f.bar.Handle());
        EXPECT_EQ(std::count(f.host.privateMessages.begin(), f.host.privateMessages.end(),
                             WM_SPLITTER_MOVED),
                  1);
    }
}

TEST(SplitterBar, PressOutsideTheBarStartsNoDrag) {
    SplitterFixture f;
    f.Press(POINT{50, 40});  // as if delivered under someone else's capture
    EXPECT_FALSE(f.bar.dragging);
    f.Release(POINT{50, 40});
    EXPECT_TRUE(f.host.privateMessages.empty());
}

// Pixels that are the inverse of the pixel before.
int Inverted(const Pixels& before, const Pixels& after) {
    int n = 0;
    for (int y = 0; y < before.Height(); ++y) {
        for (int x = 0; x < before.Width(); ++x) {
            n += after.At(x, y) == (before.At(x, y) ^ 0xFFFFFF) ? 1 : 0;
        }
    }
    return n;
}

TEST(SplitterBar, BandFollowsThePointerWithItsTopEdgeAndGoesWhenTheDragEnds) {
    SplitterFixture f;
    const int top = kHeight - 200;
    // The band 40 rows above the bar, over the upper pane, as wide and high as the bar.
    const RECT band{1, top - 40, kWidth - 1, top - 35};
    const RECT around{0, top - 50, kWidth, top - 25};
    ::UpdateWindow(f.host.Handle());
    guitest::Pump();
    const Pixels before = f.Screen(around);
    f.Press(POINT{50, 3});
    f.Drag(POINT{50, -40});
    const Pixels during = f.Screen(around);
    // Half of the band's pixels are inverted (the half-tone), none outside it.
    const int bandPixels = (band.right - band.left) * (band.bottom - band.top);
    EXPECT_EQ(Inverted(before, during), bandPixels / 2);
    for (int y = 0; y < before.Height(); ++y) {
        const bool inBand = y + around.top >= band.top && y + around.top < band.bottom;
        if (!inBand) {
            for (int x = 0; x < before.Width(); ++x) {
                ASSERT_EQ(during.At(x, y), before.At(x, y)) << x << "," << y + around.top;
            }
        }
    }
    f.Release(POINT{50, 200});  // dropped elsewhere: the old band must not stay behind
    ::UpdateWindow(f.host.Handle());
    guitest::Pump();
    EXPECT_EQ(Inverted(before, f.Screen(around)), 0);
}

TEST(SplitterBar, LosingTheMouseCancelsTheDragAndRemovesTheBand) {
    SplitterFixture f;
    const int top = kHeight - 200;
    const RECT around{0, top - 50, kWidth, top - 25};
    guitest::Pump();
    const Pixels before = f.Screen(around);
    f.Press(POINT{50, 3});
    f.Drag(POINT{50, -40});
    ::SetCapture(f.host.Handle());
    ::ReleaseCapture();
    EXPECT_FALSE(f.bar.dragging);
    EXPECT_EQ(Inverted(before, f.Screen(around)), 0);
    f.Release(POINT{50, -40});
    EXPECT_EQ(f.InHost(f.bar.Handle()).top, top);
    EXPECT_TRUE(f.host.privateMessages.empty());
}

TEST(SplitterBar, PaintsABlackFrame) {
    SplitterFixture f;
    ::RedrawWindow(f.host.Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    guitest::Pump();
    const RECT bar = f.InHost(f.bar.Handle());
    const Pixels p = f.Screen(bar);
    for (int x = 0; x < p.Width(); ++x) {
        EXPECT_EQ(p.At(x, 0), RGB(0, 0, 0)) << x;
        EXPECT_EQ(p.At(x, p.Height() - 1), RGB(0, 0, 0)) << x;
    }
    EXPECT_EQ(p.At(0, 2), RGB(0, 0, 0));
    EXPECT_EQ(p.At(p.Width() - 1, 2), RGB(0, 0, 0));
    EXPECT_NE(p.At(10, 2), RGB(0, 0, 0));
}

TEST(SplitterBar, CursorIsTheNorthSouthArrowOverTheBarOnly) {
    SplitterFixture f;
    const HCURSOR sizeNs = ::LoadCursorA(nullptr, IDC_SIZENS);
    const RECT bar = f.bar.WindowRect();
    guitest::MouseMoveTo(POINT{bar.left + 100, bar.top + 2});
    EXPECT_EQ(::GetCursor(), sizeNs);
    const RECT upper = win::Window(f.upper).WindowRect();
    guitest::MouseMoveTo(POINT{upper.left + 100, upper.top + 50});
    EXPECT_NE(::GetCursor(), sizeNs);
}

}  // namespace
