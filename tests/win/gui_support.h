// What the GUI tests share: pixels read back from real windows, a pumped message queue, and a
// top-level host window that records what its children tell it.
#pragma once

#include "win/window.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace guitest {

// The pixels of a window as it paints itself (PrintWindow into a 32-bit memory bitmap), or of any
// device context area.
class Pixels {
  public:
    static Pixels OfWindow(HWND hwnd);
    static Pixels OfDc(HDC dc, const RECT& area);
    static Pixels Blank(int width, int height, COLORREF fill);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // RGB of the pixel; 0xFFFFFFFF outside.
    COLORREF At(int x, int y) const;
    // How many pixels of the rectangle have exactly this colour.
    int Count(const RECT& area, COLORREF colour) const;
    // How many pixels of the rectangle differ from this colour.
    int CountOther(const RECT& area, COLORREF colour) const;
    // Writes a 24-bit BMP, for looking at a failure.
    bool Save(const std::string& path) const;
    // Saves as NAME.bmp into the folder that VANTREL_SHOT_DIR names, if it is set.
    void Keep(const char* name) const;

  private:
    int width_ = 0;
    int height_ = 0;
    std::vector<COLORREF> pixels_;
};

// Dispatches every message waiting for this thread.
void Pump();
// Pumps for about `milliseconds`, so that posted and timer-driven work gets done.
void PumpFor(int milliseconds);

// A visible top-level popup window at a fixed screen place, without WS_CLIPCHILDREN (like the main
// window), that records the notifications and private messages it gets.
class Host : public win::MessageWindow {
  public:
    Host(int width, int height, int x = 40, int y = 40);
    ~Host() override;

    struct Notice {
        HWND from;
        UINT code;
    };
    std::vector<Notice> notices;        // every WM_NOTIFY
    std::vector<UINT> privateMessages;  // every message from WM_USER on
    // Answers LVN_GETDISPINFO(A/W) for text: (item, subitem) -> text (8-bit).
    std::function<std::string(int, int)> cellText;

    int CountNotices(UINT code) const;

  protected:
    Result OnNotify(NMHDR*) override;
    Result OnMessage(UINT message, WPARAM, LPARAM) override;
};

// Screen point of a client point of a window.
POINT ScreenPoint(HWND hwnd, POINT client);
// Real input: moves the cursor to a screen point, optionally pressing and releasing the left
// button, and pumps until it is delivered.
void MouseMoveTo(POINT screen);

}  // namespace guitest
