// Pixel sizes at the monitor's DPI. Every size the window is designed with is given at 96 DPI
// (100 %) and scaled to the DPI of the monitor the window is on.
#pragma once

#include <windows.h>

namespace win {

inline constexpr int kDesignDpi = 96;

// The DPI of the monitor `window` is on (GetDpiForWindow where the system has it), else the
// vertical DPI of the window's device context, else 96.
int WindowDpi(HWND window);

// A length of `pixels` at 96 DPI, at `dpi`; rounded to the nearest pixel.
inline int Scale(int pixels, int dpi) {
    return ::MulDiv(pixels, dpi, kDesignDpi);
}

}  // namespace win
