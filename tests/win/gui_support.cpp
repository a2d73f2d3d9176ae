#include "tests/win/gui_support.h"

#include "win/handles.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

namespace guitest {
namespace {

// A 32-bit top-down DIB section selected into a memory DC.
struct Canvas {
    win::MemoryDc dc;
    win::Bitmap bitmap;
    void* bits = nullptr;
    HGDIOBJ previous = nullptr;

    Canvas(int width, int height) : dc(::CreateCompatibleDC(nullptr)) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap.Reset(::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        previous = ::SelectObject(dc.Get(), bitmap.Get());
    }
    ~Canvas() { ::SelectObject(dc.Get(), previous); }
};

}  // namespace

Pixels Pixels::Blank(int width, int height, COLORREF fill) {
    Pixels p;
    p.width_ = width;
    p.height_ = height;
    p.pixels_.assign(static_cast<std::size_t>(width) * height, fill);
    return p;
}

Pixels Pixels::OfWindow(HWND hwnd) {
    // The client area only, at (0, 0): tests think in client coordinates.
    RECT client{};
    ::GetClientRect(hwnd, &client);
    Canvas canvas(client.right, client.bottom);
    ::GdiFlush();
    ::PrintWindow(hwnd, canvas.dc.Get(), PW_CLIENTONLY);
    ::GdiFlush();
    Pixels p;
    p.width_ = client.right;
    p.height_ = client.bottom;
    p.pixels_.resize(static_cast<std::size_t>(p.width_) * p.height_);
    const auto* src = static_cast<const uint32_t*>(canvas.bits);
    for (std::size_t i = 0; i < p.pixels_.size(); ++i) {
        const uint32_t v = src[i];
        p.pixels_[i] = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    return p;
}

Pixels Pixels::OfDc(HDC dc, const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    Canvas canvas(width, height);
    ::BitBlt(canvas.dc.Get(), 0, 0, width, height, dc, area.left, area.top, SRCCOPY);
    ::GdiFlush();
    Pixels p;
    p.width_ = width;
    p.height_ = height;
    p.pixels_.resize(static_cast<std::size_t>(width) * height);
    const auto* src = static_cast<const uint32_t*>(canvas.bits);
    for (std::size_t i = 0; i < p.pixels_.size(); ++i) {
        const uint32_t v = src[i];
        p.pixels_[i] = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    return p;
}

COLORREF Pixels::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return 0xFFFFFFFF;
    }
    return pixels_[static_cast<std::size_t>(y) * width_ + x];
}

int Pixels::Count(const RECT& area, COLORREF colour) const {
    int n = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            n += At(x, y) == colour ? 1 : 0;
        }
    }
    return n;
}

int Pixels::CountOther(const RECT& area, COLORREF colour) const {
    return (area.right - area.left) * (area.bottom - area.top) - Count(area, colour);
}

bool Pixels::Save(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const int rowBytes = (width_ * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(rowBytes * height_);
    info.biSize = sizeof(info);
    info.biWidth = width_;
    info.biHeight = height_;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::fwrite(&file, sizeof(file), 1, f);
    std::fwrite(&info, sizeof(info), 1, f);
    std::vector<unsigned char> row(static_cast<std::size_t>(rowBytes), 0);
    for (int y = height_ - 1; y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            const COLORREF c = At(x, y);
            row[x * 3] = GetBValue(c);
            row[x * 3 + 1] = GetGValue(c);
            row[x * 3 + 2] = GetRValue(c);
        }
        std::fwrite(row.data(), row.size(), 1, f);
    }
    std::fclose(f);
    return true;
}

void Pixels::Keep(const char* name) const {
    char folder[MAX_PATH] = {};
    if (::GetEnvironmentVariableA("VANTREL_SHOT_DIR", folder, sizeof(folder)) > 0) {
        Save(std::string(folder) + "\\" + name + ".bmp");
    }
}

void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

void PumpFor(int milliseconds) {
    const DWORD end = ::GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        Pump();
        ::Sleep(5);
    } while (static_cast<int>(end - ::GetTickCount()) > 0);
    Pump();
}

Host::Host(int width, int height, int x, int y) {
    RegisterClassOnce("VantrelTestHost", ::LoadCursorA(nullptr, IDC_ARROW),
                      reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    RECT frame{0, 0, width, height};
    // Shown without caption and without activation: Wine hands captioned or active windows to the
    // window manager and, with none running on the test screen, waits two seconds for it at every
    // destruction.
    const DWORD style = WS_POPUP | WS_BORDER;
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    const RECT place{x, y, x + frame.right - frame.left, y + frame.bottom - frame.top};
    Create("VantrelTestHost", 0, style, place, nullptr, 0, "Vantrel test");
    ::ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    ::UpdateWindow(hwnd_);
    Pump();
}

Host::~Host() = default;

int Host::CountNotices(UINT code) const {
    int n = 0;
    for (const Notice& notice : notices) {
        n += notice.code == code ? 1 : 0;
    }
    return n;
}

win::MessageWindow::Result Host::OnNotify(NMHDR* header) {
    notices.push_back({header->hwndFrom, header->code});
    if (cellText && header->code == LVN_GETDISPINFOA) {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
        if ((info->item.mask & LVIF_TEXT) != 0 && info->item.pszText != nullptr &&
            info->item.cchTextMax > 0) {
            const std::string text = cellText(info->item.iItem, info->item.iSubItem);
            lstrcpynA(info->item.pszText, text.c_str(), info->item.cchTextMax);
        }
        return 0;
    }
    if (cellText && header->code == LVN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
        if ((info->item.mask & LVIF_TEXT) != 0 && info->item.pszText != nullptr &&
            info->item.cchTextMax > 0) {
            const std::string text = cellText(info->item.iItem, info->item.iSubItem);
            ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, info->item.pszText,
                                  info->item.cchTextMax);
            info->item.pszText[info->item.cchTextMax - 1] = 0;
        }
        return 0;
    }
    return {};
}

win::MessageWindow::Result Host::OnMessage(UINT message, WPARAM, LPARAM) {
    if (message >= WM_USER && message < 0x8000) {
        privateMessages.push_back(message);
        return 0;
    }
    return {};
}

POINT ScreenPoint(HWND hwnd, POINT client) {
    ::ClientToScreen(hwnd, &client);
    return client;
}

void MouseMoveTo(POINT screen) {
    // Absolute input coordinates run from 0 to 65535 over the primary screen.
    const int width = ::GetSystemMetrics(SM_CXSCREEN);
    const int height = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((screen.x * 65536 + width / 2) / width);
    input.mi.dy = static_cast<LONG>((screen.y * 65536 + height / 2) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof(input));
    PumpFor(50);
}

}  // namespace guitest

namespace {

// Every GUI test program needs the common controls registered before its first window.
const bool commonControlsReady = [] {
    INITCOMMONCONTROLSEX init{sizeof(init), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    return ::InitCommonControlsEx(&init) != FALSE;
}();

}  // namespace
