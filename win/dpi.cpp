#include "win/dpi.h"

namespace win {

int WindowDpi(HWND window) {
    // Looked up at run time: the program also runs on systems older than Windows 10 1607.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr && window != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) {
            return static_cast<int>(dpi);
        }
    }
    int dpi = 0;
    if (const HDC dc = ::GetDC(window)) {
        dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
        ::ReleaseDC(window, dc);
    }
    return dpi > 0 ? dpi : kDesignDpi;
}

}  // namespace win
