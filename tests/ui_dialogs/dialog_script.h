// Driving a modal dialog from inside its own message loop: a thread timer runs the steps of a
// script in turn, each until it reports done, so the test sees the dialog the way a user would,
// message boxes included.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace guitest {

class DialogScript {
  public:
    using Step = std::function<bool()>;  // true: done, go on to the next step

    // `dialog` gives the window to cancel when the script runs out of time, so no run hangs.
    DialogScript(std::function<HWND()> dialog, std::vector<Step> steps);
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    // True when every step was done in time.
    bool Finished() const { return next_ == steps_.size(); }

  private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void RunStep();

    std::function<HWND()> dialog_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    int ticks_ = 0;
    bool running_ = false;
    UINT_PTR timer_ = 0;
};

// A message box shown by this thread, as the user sees it.
struct MessageBoxSeen {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
    bool informationIcon = false;
};

// The first visible message box of this thread other than `except`, if any.
MessageBoxSeen FindMessageBox(HWND except);

// The text of a window, 8-bit.
std::string TextOf(HWND window);

// Posts a key press to a window, as the keyboard would send it.
void PostKey(HWND window, WPARAM key);

// Pumps for the milliseconds that VANTREL_SHOT_HOLD_MS names, if set, so that a screenshot of the
// whole screen can be taken from outside.
void HoldForScreenshot();

}  // namespace guitest
