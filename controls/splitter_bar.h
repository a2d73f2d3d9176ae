// The bar between the process list above and the behaviour list below. Dragging it shows an
// inverted band over the main window; on release the bar moves there, the panes are fitted to it
// and the parent is told.
#pragma once

#include "win/window.h"

#include <cstdint>

// Sent (not posted) to the bar's parent after every completed drag; both parameters 0.
inline constexpr UINT WM_SPLITTER_MOVED = WM_USER + 1000;

class CSplitterBar : public win::MessageWindow {
  public:
    // True: panes above and below, the bar moves up and down. False: panes left and right.
    bool horizontal = false;
    win::Window firstPane;   // above (left of) the bar; not owned
    win::Window secondPane;  // below (right of) the bar; not owned
    bool dragging = false;   // between the button going down on the bar and the drag's end
    RECT dragStartRect{};    // the bar's window rectangle when the drag began, screen coordinates
    RECT lastBand{};         // the band drawn last, parent client coordinates

    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);

    // Stores the panes and lays the bar on the first pane's far edge, then fits the panes.
    void SetPanes(HWND first, HWND second);
    // Fits the panes to the bar: each reaches a border's width under it.
    void LayoutPanes();
    // Feedback band at a point in the bar's client coordinates: mode 0 draws the first band, 1 and
    // 2 replace the last one.
    void DrawDragBand(int mode, POINT point);

  protected:
    Result OnCreate(CREATESTRUCTA*) override;
    Result OnPaint() override;
    Result OnPrintClient(HDC dc) override;
    Result OnSetCursor(HWND, UINT, UINT) override;
    Result OnLButtonDown(UINT keys, POINT point) override;
    Result OnMouseMove(UINT keys, POINT point) override;
    Result OnLButtonUp(UINT keys, POINT point) override;
    Result OnCaptureChanged(HWND newCapture) override;

  private:
    void PaintFrame(HDC dc);
};
