// The column header of the process list: a vertical gradient, a grey separator after each column,
// the titles in a fixed font; taller than the system makes it; after a column resize it has its
// list repaint every row.
#pragma once

#include "win/window.h"

#include <cstdint>
#include <string>
#include <vector>

// Posted by the header to its list after a column was resized; the list repaints all its rows.
inline constexpr UINT WM_LIST_REDRAW = WM_USER + 47;

class CHeaderCtrlCl : public win::MessageWindow {
  public:
    // Column titles in column order (8-bit, code page 936); painted by position.
    std::vector<std::string> titles;
    const int16_t baseRed = 255;
    const int16_t baseGreen = 255;
    const int16_t baseBlue = 240;
    const int32_t gradientStep = 3;
    const float heightScale = 1.3f;
    const COLORREF textColor = RGB(0, 0, 0);
    // The DPI the titles' font and margins are scaled to; the owner sets it.
    int dpi = 96;
    // The titles' face and height at 96 DPI.
    static constexpr wchar_t kTitleFace[] = L"新宋体";
    static constexpr int kTitleHeight = 13;

    // Takes over the header window of a list.
    bool Attach(HWND header) { return Subclass(header); }

    // The header height for a system-computed height h: h x heightScale in single precision, cut
    // toward zero (17 -> 22, 20 -> 26, 24 -> 31).
    static int ScaledHeight(int height, float scale);

    // Paints the whole header onto `dc`.
    void Paint(HDC dc);

  protected:
    Result OnPaint() override;
    Result OnPrintClient(HDC dc) override;
    Result OnSetCursor(HWND, UINT, UINT) override;
    Result OnLButtonDblClk(UINT, POINT) override;
    Result OnMessage(UINT message, WPARAM, LPARAM) override;
    Result OnReflectedNotify(NMHDR* notice) override;
};
