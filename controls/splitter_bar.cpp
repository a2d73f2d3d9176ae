#include "controls/splitter_bar.h"

#include "win/drag_rect.h"
#include "win/handles.h"

#include <algorithm>

namespace {

constexpr char kClassName[] = "VantrelSplitterBar";

// The bar moves along y when horizontal, along x otherwise; these pick the coordinate it moves on.
LONG& Start(RECT& r, bool horizontal) {
    return horizontal ? r.top : r.left;
}
LONG& End(RECT& r, bool horizontal) {
    return horizontal ? r.bottom : r.right;
}
LONG Along(POINT p, bool horizontal) {
    return horizontal ? p.y : p.x;
}

}  // namespace

bool CSplitterBar::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
    RegisterClassOnce(kClassName, ::LoadCursorA(nullptr, IDC_ARROW),
                      reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    return MessageWindow::Create(kClassName, 0, style, rect, parent, id, "");
}

void CSplitterBar::SetPanes(HWND first, HWND second) {
    firstPane = win::Window(first);
    secondPane = win::Window(second);
    // The panes reach under the bar; clipped to their siblings they no longer paint over it.
    for (const win::Window& pane : {firstPane, secondPane}) {
        if (pane && (pane.Style() & WS_CLIPSIBLINGS) == 0) {
            pane.SetStyle(pane.Style() | WS_CLIPSIBLINGS);
        }
    }
    const RECT r = firstPane.WindowRectIn(Parent().Handle());
    if (horizontal) {
        const int h = ::GetSystemMetrics(SM_CXFRAME) / 2;
        Move(r.left, r.bottom - h, r.right - r.left, 2 * h, true);
    } else {
        const int h = ::GetSystemMetrics(SM_CYFRAME) / 2;
        Move(r.right - h, r.top, 2 * h, r.bottom - r.top, true);
    }
    LayoutPanes();
}

void CSplitterBar::LayoutPanes() {
    const bool h = horizontal;
    const HWND parent = Parent().Handle();
    RECT bar = WindowRectIn(parent);
    const LONG border = ::GetSystemMetrics(h ? SM_CXBORDER : SM_CYBORDER);
    // A pane that the bar leaves no room gets zero size at its kept edge: never a negative size.
    if (firstPane) {
        RECT r = firstPane.WindowRectIn(parent);
        End(r, h) = std::max(Start(r, h), Start(bar, h) + border);
        firstPane.Move(r, true);
    }
    if (secondPane) {
        RECT r = secondPane.WindowRectIn(parent);
        Start(r, h) = std::min(End(r, h), End(bar, h) - border);
        secondPane.Move(r, true);
    }
    ::InvalidateRect(parent, nullptr, TRUE);
}

void CSplitterBar::DrawDragBand(int mode, POINT point) {
    const bool h = horizontal;
    const POINT screen = ClientToScreen(point);
    RECT band = dragStartRect;
    const LONG length = End(band, h) - Start(band, h);
    Start(band, h) = Along(screen, h);
    End(band, h) = Along(screen, h) + length;

    const win::Window parent = Parent();
    ::MapWindowPoints(nullptr, parent.Handle(), reinterpret_cast<POINT*>(&band), 2);
    win::WindowDc dc(parent.Handle());
    if (dc) {
        const SIZE size{band.right - band.left, band.bottom - band.top};
        const SIZE lastSize{lastBand.right - lastBand.left, lastBand.bottom - lastBand.top};
        win::DrawDragRect(dc.Get(), band, size, mode == 0 ? nullptr : &lastBand, lastSize);
    }
    lastBand = band;
}

win::MessageWindow::Result CSplitterBar::OnCreate(CREATESTRUCTA*) {
    if (CallDefault() == -1) {
        return -1;
    }
    // Above the panes, which reach under it.
    ::SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return 0;
}

void CSplitterBar::PaintFrame(HDC dc) {
    const RECT client = ClientRect();
    win::Brush black(::CreateSolidBrush(RGB(0, 0, 0)));
    ::FrameRect(dc, &client, black.Get());
}

win::MessageWindow::Result CSplitterBar::OnPaint() {
    if (::GetUpdateRect(hwnd_, nullptr, FALSE)) {
        win::PaintDc dc(hwnd_);
        PaintFrame(dc.Get());
    }
    return 0;
}

win::MessageWindow::Result CSplitterBar::OnPrintClient(HDC dc) {
    PaintFrame(dc);
    return 0;
}

win::MessageWindow::Result CSplitterBar::OnSetCursor(HWND, UINT, UINT) {
    // Where the pointer is now: under Wine, WM_SETCURSOR arrives before the message position has
    // been updated to the mouse message that caused it.
    POINT p{};
    ::GetCursorPos(&p);
    const RECT r = WindowRect();
    if (!::PtInRect(&r, p)) {
        return {};
    }
    ::SetCursor(::LoadCursorA(nullptr, horizontal ? IDC_SIZENS : IDC_SIZEWE));
    return TRUE;
}

win::MessageWindow::Result CSplitterBar::OnLButtonDown(UINT, POINT point) {
    const POINT screen = ClientToScreen(point);
    const RECT r = WindowRect();
    if (!::PtInRect(&r, screen)) {
        return {};
    }
    ::SetCapture(hwnd_);
    dragging = true;
    dragStartRect = r;
    DrawDragBand(0, point);
    return 0;
}

win::MessageWindow::Result CSplitterBar::OnMouseMove(UINT keys, POINT point) {
    if ((keys & MK_LBUTTON) == 0 || !dragging) {
        return {};
    }
    DrawDragBand(2, point);
    return 0;
}

win::MessageWindow::Result CSplitterBar::OnLButtonUp(UINT, POINT point) {
    if (dragging) {
        const bool h = horizontal;
        const win::Window parent = Parent();
        const RECT client = parent.ClientRect();
        DrawDragBand(1, point);

        // Only the bar's leading edge is limited, and only to the parent's client area.
        const POINT screen = ClientToScreen(point);
        const POINT lowest =
            parent.ClientToScreen(h ? POINT{0, client.top} : POINT{client.left, 0});
        const POINT highest =
            parent.ClientToScreen(h ? POINT{0, client.bottom} : POINT{client.right, 0});
        const LONG at = std::clamp(Along(screen, h), Along(lowest, h), Along(highest, h));

        RECT r = dragStartRect;
        const LONG length = End(r, h) - Start(r, h);
        Start(r, h) = at;
        End(r, h) = at + length;
        ::MapWindowPoints(nullptr, parent.Handle(), reinterpret_cast<POINT*>(&r), 2);
        Move(r, true);
        ::UpdateWindow(hwnd_);

        dragging = false;  // before the capture goes, so losing it is no cancelled drag
        ::ReleaseCapture();
        LayoutPanes();
        parent.Send(WM_SPLITTER_MOVED);
    }
    return CallDefault();
}

// A drag that loses the mouse (another window took it, the user switched away) is cancelled: the
// band is removed and the bar stays, rather than moving at some later, unrelated release.
win::MessageWindow::Result CSplitterBar::OnCaptureChanged(HWND newCapture) {
    if (dragging && newCapture != hwnd_) {
        dragging = false;
        win::WindowDc dc(Parent().Handle());
        if (dc) {
            const SIZE size{lastBand.right - lastBand.left, lastBand.bottom - lastBand.top};
            win::DrawDragRect(dc.Get(), lastBand, size, nullptr, SIZE{0, 0});
        }
    }
    return {};
}
