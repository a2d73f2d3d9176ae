// Move-only owners of kernel handles and GDI objects, and scope guards for device contexts. A copy
// of an owner would release its handle twice, so none can be copied.
#pragma once

#include <windows.h>

#include <utility>

namespace win {

// Owns one handle of the kind that Traits describes: Traits::Type, Traits::Invalid() and
// Traits::Close(handle).
template <typename Traits>
class UniqueHandle {
  public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    Type Get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::Invalid(); }

    // Gives up ownership without closing.
    Type Release() { return std::exchange(handle_, Traits::Invalid()); }
    void Reset(Type handle = Traits::Invalid()) {
        const Type old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

  private:
    Type handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
// CreateFile reports failure with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};
template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DeleteDC(h); }
};
struct MenuTraits {
    using Type = HMENU;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::DestroyMenu(h); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using Brush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using Pen = UniqueHandle<GdiObjectTraits<HPEN>>;
using Font = UniqueHandle<GdiObjectTraits<HFONT>>;
using Bitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using Region = UniqueHandle<GdiObjectTraits<HRGN>>;
using MemoryDc = UniqueHandle<MemoryDcTraits>;  // from CreateCompatibleDC
using Menu = UniqueHandle<MenuTraits>;          // a loaded menu that no window holds

// The device context of a window between GetDC and ReleaseDC.
class WindowDc {
  public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_ != nullptr) {
            ::ReleaseDC(hwnd_, dc_);
        }
    }
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

  private:
    HWND hwnd_;
    HDC dc_;
};

// BeginPaint and EndPaint as one object.
class PaintDc {
  public:
    explicit PaintDc(HWND hwnd) : hwnd_(hwnd) { dc_ = ::BeginPaint(hwnd, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    ~PaintDc() { ::EndPaint(hwnd_, &paint_); }
    HDC Get() const { return dc_; }
    const PAINTSTRUCT& Info() const { return paint_; }

  private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};

// Selects an object into a device context and puts the previous one back at the end of the scope,
// so the object can then be deleted while no DC holds it. Declare it after the owner of the object.
class SelectGuard {
  public:
    SelectGuard(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    ~SelectGuard() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            ::SelectObject(dc_, previous_);
        }
    }

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace win
