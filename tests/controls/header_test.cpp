// The owner-drawn header on a real list view under Wine: its height, gradient, separators and
// titles read back as pixels, and what it does with double clicks and column resizes.
#include "controls/header_ctrl_cl.h"
#include "tests/win/gui_support.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using guitest::Host;
using guitest::Pixels;

HWND MakeList(HWND parent, int id, int top = 0) {
    return ::CreateWindowExA(
        0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_OWNERDATA, 0, top,
        560, 150, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void AddColumns(HWND list, const std::vector<int>& widths) {
    for (std::size_t i = 0; i < widths.size(); ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = widths[i];
        std::string text = "C" + std::to_string(i);
        column.pszText = text.data();
        ::SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
}

// The list that carries the header, as a window of ours: it offers its header's notifications back
// to the header.
struct ListWindow : win::MessageWindow {
    using MessageWindow::Subclass;
};

// A list whose header is ours, with ASCII titles (the test machine may have no Chinese font).
struct HeaderFixture {
    Host host{600, 340};
    HWND list;
    ListWindow listWindow;
    CHeaderCtrlCl header;

    explicit HeaderFixture(const std::vector<int>& widths, std::size_t titleCount = SIZE_MAX) {
        list = MakeList(host.Handle(), 1000);
        EXPECT_TRUE(listWindow.Subclass(list));
        EXPECT_TRUE(header.Attach(ListView_GetHeader(list)));
        AddColumns(list, widths);
        for (std::size_t i = 0; i < widths.size() && i < titleCount; ++i) {
            header.titles.push_back("WWW" + std::to_string(i));
        }
        Relayout(list);
    }
    static void Relayout(HWND list) {
        ::SetWindowPos(list, nullptr, 0, 0, 560, 151, SWP_NOMOVE | SWP_NOZORDER);
        ::SetWindowPos(list, nullptr, 0, 0, 560, 150, SWP_NOMOVE | SWP_NOZORDER);
        ::InvalidateRect(ListView_GetHeader(list), nullptr, TRUE);
        guitest::Pump();
    }
    RECT Item(int i) const {
        RECT r{};
        header.Send(HDM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
        return r;
    }
};

COLORREF GradientRow(int k) {
    return RGB(std::max(0, 255 - 3 * k), std::max(0, 255 - 3 * k), std::max(0, 240 - 3 * k));
}

// Pixels of a column's title area that differ from the gradient.
int TitlePixels(const Pixels& p, const RECT& item) {
    int n = 0;
    for (int y = item.top + 8; y < item.bottom; ++y) {
        for (int x = item.left + 6; x < item.left + 40; ++x) {
            n += p.At(x, y) != GradientRow(y) ? 1 : 0;
        }
    }
    return n;
}

TEST(HeaderCtrlCl, HeightIsScaledInSinglePrecision) {
    struct Case {
        int height;
        int scaled;
    };
    // 20 x 1.3f is 25.999999 only when the product is carried in double; in float it is 26.
    for (const Case& c : {Case{17, 22}, Case{20, 26}, Case{24, 31}, Case{0, 0}}) {
        EXPECT_EQ(CHeaderCtrlCl::ScaledHeight(c.height, 1.3f), c.scaled) << c.height;
    }
}

TEST(HeaderCtrlCl, HeaderIsTallerAndTheRowsStartBelowIt) {
    HeaderFixture f({80, 60});
    const HWND plain = MakeList(f.host.Handle(), 1001, 160);
    AddColumns(plain, {80, 60});
    HeaderFixture::Relayout(plain);
    RECT plainRect{};
    ::GetWindowRect(ListView_GetHeader(plain), &plainRect);
    const int systemHeight = plainRect.bottom - plainRect.top;
    ASSERT_GT(systemHeight, 10);

    RECT ours{};
    ::GetWindowRect(f.header.Handle(), &ours);
    const int expected = CHeaderCtrlCl::ScaledHeight(systemHeight, 1.3f);
    EXPECT_EQ(ours.bottom - ours.top, expected);
    // The first row begins where the header ends.
    ListView_SetItemCountEx(f.list, 3, 0);
    RECT row{};
    row.left = LVIR_BOUNDS;
    ::SendMessageA(f.list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    EXPECT_EQ(row.top, expected);
}

TEST(HeaderCtrlCl, PaintsGradientSeparatorsAndTitles) {
    HeaderFixture f({80, 60});
    const Pixels p = Pixels::OfWindow(f.header.Handle());
    ASSERT_GT(p.Height(), 20);
    const RECT first = f.Item(0);
    const RECT second = f.Item(1);
    // The gradient: row k is 255-3k, 255-3k, 240-3k, also right of the last column.
    for (int y = 0; y < p.Height(); ++y) {
        EXPECT_EQ(p.At(second.right + 20, y), GradientRow(y)) << y;
        EXPECT_EQ(p.At(p.Width() - 1, y), GradientRow(y)) << y;
    }
    // A separator at each column's right edge from top + 3 to bottom - 4.
    for (const RECT& item : {first, second}) {
        EXPECT_EQ(p.At(item.right, item.top + 2), GradientRow(item.top + 2));
        for (int y = item.top + 3; y <= item.bottom - 4; ++y) {
            EXPECT_EQ(p.At(item.right, y), RGB(155, 155, 155)) << y;
        }
        EXPECT_EQ(p.At(item.right, item.bottom - 3), GradientRow(item.bottom - 3));
        EXPECT_GT(TitlePixels(p, item), 10);
        // Nothing above the title's top (top + 8) but the gradient.
        for (int y = item.top; y < item.top + 8; ++y) {
            for (int x = item.left + 1; x < item.right; ++x) {
                ASSERT_EQ(p.At(x, y), GradientRow(y)) << x << "," << y;
            }
        }
    }
    p.Keep("header");
}

// Where text drawn on a background differs from it: a picture of the glyphs alone.
std::vector<bool> Ink(const Pixels& p, const RECT& area, const std::function<COLORREF(int)>& back) {
    std::vector<bool> ink;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            ink.push_back(p.At(x, y) != back(y));
        }
    }
    return ink;
}

TEST(HeaderCtrlCl, ChineseTitlesHaveTheGlyphsTheSystemDrawsForTheSameText) {
    // Each title as the system draws its UTF-16 text in the header's face and size with a Chinese
    // character set, on white.
    const std::vector<std::wstring> titles = {L"\u8FDB\u7A0B\u540D", L"\u6620\u50CF\u8DEF\u5F84"};
    HeaderFixture f({120, 120});
    f.header.titles = {"进程名", "映像路径"};
    ::InvalidateRect(f.header.Handle(), nullptr, TRUE);
    guitest::Pump();
    const Pixels painted = Pixels::OfWindow(f.header.Handle());
    for (std::size_t i = 0; i < titles.size(); ++i) {
        SCOPED_TRACE(i);
        const RECT item = f.Item(static_cast<int>(i));
        const RECT area{item.left + 6, item.top + 8, item.right - 2, item.bottom};
        Pixels reference;
        {
            HDC screen = ::GetDC(nullptr);
            HDC dc = ::CreateCompatibleDC(screen);
            HBITMAP bitmap = ::CreateCompatibleBitmap(screen, painted.Width(), painted.Height());
            ::ReleaseDC(nullptr, screen);
            HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
            const RECT all{0, 0, painted.Width(), painted.Height()};
            ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            HFONT font =
                ::CreateFontW(CHeaderCtrlCl::kTitleHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, FF_SWISS, CHeaderCtrlCl::kTitleFace);
            HGDIOBJ oldFont = ::SelectObject(dc, font);
            ::SetBkMode(dc, TRANSPARENT);
            ::TextOutW(dc, area.left, area.top, titles[i].c_str(),
                       static_cast<int>(titles[i].size()));
            ::SelectObject(dc, oldFont);
            ::DeleteObject(font);
            reference = Pixels::OfDc(dc, all);
            ::SelectObject(dc, oldBitmap);
            ::DeleteObject(bitmap);
            ::DeleteDC(dc);
        }
        const std::vector<bool> drawn = Ink(painted, area, GradientRow);
        const std::vector<bool> expected =
            Ink(reference, area, [](int) { return RGB(255, 255, 255); });
        ASSERT_EQ(drawn.size(), expected.size());
        int inked = 0;
        int different = 0;
        for (std::size_t k = 0; k < drawn.size(); ++k) {
            inked += expected[k] ? 1 : 0;
            different += drawn[k] != expected[k] ? 1 : 0;
        }
        EXPECT_GT(inked, 30);
        EXPECT_LE(different, inked / 20) << "of " << inked << " inked pixels";
    }
    painted.Keep("header_chinese");
}

TEST(HeaderCtrlCl, PaintingStopsAtTheFirstZeroWidthColumn) {
    struct Case {
        std::vector<int> widths;
        int lastPainted;  // index of the last column with a title
    };
    for (const Case& c : {Case{{80, 60, 0}, 1}, Case{{80, 0, 60}, 0}, Case{{80, 60, 70}, 2}}) {
        HeaderFixture f(c.widths);
        const Pixels p = Pixels::OfWindow(f.header.Handle());
        const RECT last = f.Item(c.lastPainted);
        EXPECT_GT(TitlePixels(p, last), 10);
        // Right of the last painted column: the gradient only.
        const RECT beyond{last.right + 1, 0, p.Width(), p.Height()};
        for (int y = beyond.top; y < beyond.bottom; ++y) {
            for (int x = beyond.left; x < beyond.right; ++x) {
                ASSERT_EQ(p.At(x, y), GradientRow(y)) << x << "," << y << " widths " << c.widths[0]
                                                      << "," << c.widths[1] << "," << c.widths[2];
            }
        }
    }
}

TEST(HeaderCtrlCl, ColumnDraggedOpenIsPaintedAndAColumnWithoutTitleOnlySeparated) {
    HeaderFixture f({80, 60, 0}, 2);  // two titles for three columns
    ListView_SetColumnWidth(f.list, 2, 70);
    HeaderFixture::Relayout(f.list);
    const Pixels p = Pixels::OfWindow(f.header.Handle());
    const RECT third = f.Item(2);
    EXPECT_EQ(third.right - third.left, 70);
    EXPECT_EQ(p.At(third.right, third.top + 5), RGB(155, 155, 155));
    EXPECT_EQ(TitlePixels(p, third), 0);
}

TEST(HeaderCtrlCl, DoubleClickOnADividerDoesNotResizeTheColumn) {
    HeaderFixture f({80, 60});
    // The same double click on an ordinary header fits the column to its title.
    const HWND plain = MakeList(f.host.Handle(), 1001, 160);
    AddColumns(plain, {80, 60});
    struct Case {
        HWND list;
        bool resized;
    };
    for (const Case& c : {Case{f.list, false}, Case{plain, true}}) {
        const HWND header = ListView_GetHeader(c.list);
        RECT item{};
        ::SendMessageA(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
        const LPARAM divider = MAKELPARAM(item.right, 5);
        ::SendMessageA(header, WM_LBUTTONDBLCLK, MK_LBUTTON, divider);
        ::SendMessageA(header, WM_LBUTTONUP, 0, divider);
        guitest::Pump();
        EXPECT_EQ(ListView_GetColumnWidth(c.list, 0) != 80, c.resized);
    }
}

TEST(HeaderCtrlCl, EndOfAColumnResizePostsListRedrawToTheList) {
    HeaderFixture f({80, 60});
    const RECT item = f.Item(0);
    guitest::Pump();
    ::SendMessageA(f.header.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.right, 5));
    ::SendMessageA(f.header.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(item.right + 30, 5));
    ::SendMessageA(f.header.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(item.right + 30, 5));
    // Once, although the list also passes the notification on to its parent.
    MSG msg{};
    int posted = 0;
    while (::PeekMessageA(&msg, f.list, WM_LIST_REDRAW, WM_LIST_REDRAW, PM_REMOVE)) {
        ++posted;
    }
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(ListView_GetColumnWidth(f.list, 0), 110);
    // A click on a title is no resize.
    ::SendMessageA(f.header.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.left + 20, 5));
    ::SendMessageA(f.header.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(item.left + 20, 5));
    EXPECT_FALSE(::PeekMessageA(&msg, f.list, WM_LIST_REDRAW, WM_LIST_REDRAW, PM_REMOVE));
}

}  // namespace
