#include "controls/header_ctrl_cl.h"

#include "win/dpi.h"
#include "win/handles.h"
#include "win/text.h"

#include <algorithm>

int CHeaderCtrlCl::ScaledHeight(int height, float scale) {
    // volatile keeps the product a float: no wider intermediate may round 25.999999 up to 26.
    volatile float product = static_cast<float>(height) * scale;
    return static_cast<int>(product);
}

void CHeaderCtrlCl::Paint(HDC dc) {
    const RECT client = ClientRect();
    const int count = static_cast<int>(Send(HDM_GETITEMCOUNT));

    // A Chinese character set and UTF-16 titles: 8-bit text would be converted through the code
    // page of the font's character set, which for a Western one garbles every Chinese title.
    win::Font font(::CreateFontW(win::Scale(kTitleHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                 FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 DEFAULT_QUALITY, FF_SWISS, kTitleFace));
    win::SelectGuard fontSelected(dc, font.Get());

    int red = baseRed;
    int green = baseGreen;
    int blue = baseBlue;
    for (int y = client.top; y <= client.bottom; ++y) {
        const RECT strip{client.left, y, client.right, y + 1};
        win::Brush brush(::CreateSolidBrush(RGB(red, green, blue)));
        ::FillRect(dc, &strip, brush.Get());
        red = std::max(0, red - gradientStep);
        green = std::max(0, green - gradientStep);
        blue = std::max(0, blue - gradientStep);
    }

    win::Pen pen(::CreatePen(PS_SOLID, 1, RGB(155, 155, 155)));
    win::SelectGuard penSelected(dc, pen.Get());
    ::SetTextColor(dc, textColor);
    for (int i = 0; i < count; ++i) {
        RECT item{};
        Send(HDM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        // A column of width 0 is hidden, and so is everything after it.
        if (item.right - item.left == 0) {
            break;
        }
        ::SetBkMode(dc, TRANSPARENT);
        ::MoveToEx(dc, item.right, item.top + 3, nullptr);
        ::LineTo(dc, item.right, item.bottom - 3);
        if (static_cast<std::size_t>(i) < titles.size()) {
            const std::wstring title = win::Wide(titles[static_cast<std::size_t>(i)]);
            ::TextOutW(dc, item.left + win::Scale(6, dpi), item.top + win::Scale(8, dpi),
                       title.c_str(), static_cast<int>(title.size()));
        }
    }
}

win::MessageWindow::Result CHeaderCtrlCl::OnPaint() {
    win::PaintDc dc(hwnd_);
    Paint(dc.Get());
    return 0;
}

// PrintWindow and other snapshots get the same picture as the screen.
win::MessageWindow::Result CHeaderCtrlCl::OnPrintClient(HDC dc) {
    Paint(dc);
    return 0;
}

win::MessageWindow::Result CHeaderCtrlCl::OnSetCursor(HWND, UINT, UINT) {
    CallDefault();  // the resize cursor over the dividers
    return TRUE;
}

// No automatic column width and no notification on a double click.
win::MessageWindow::Result CHeaderCtrlCl::OnLButtonDblClk(UINT, POINT) {
    return 0;
}

win::MessageWindow::Result CHeaderCtrlCl::OnMessage(UINT message, WPARAM, LPARAM lParam) {
    if (message != HDM_LAYOUT) {
        return {};
    }
    const LRESULT result = CallDefault();
    auto* layout = reinterpret_cast<HDLAYOUT*>(lParam);
    if (layout != nullptr && layout->pwpos != nullptr && layout->prc != nullptr) {
        const int height = layout->pwpos->cy;
        const int scaled = ScaledHeight(height, heightScale);
        layout->pwpos->cy = scaled;
        layout->prc->top += scaled - height;  // the list's area starts below the taller header
    }
    return result;
}

win::MessageWindow::Result CHeaderCtrlCl::OnReflectedNotify(NMHDR* notice) {
    if (notice->code == HDN_ENDTRACKA || notice->code == HDN_ENDTRACKW) {
        Parent().Post(WM_LIST_REDRAW);
    }
    return {};  // the list still completes the resize
}
