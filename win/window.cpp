#include "win/window.h"

#include <utility>

namespace win {
namespace {

// The procedure a subclassed window had before it was bound, kept as a window property only for
// the rare message that arrives after its object let go while another procedure sat on top of ours
// (see SubclassProc); never read while the object is bound.
constexpr wchar_t kPreviousProcProperty[] = L"Vantrel.PreviousProc";

}  // namespace

RECT Window::ClientRect() const {
    RECT r{};
    ::GetClientRect(hwnd_, &r);
    return r;
}

RECT Window::WindowRect() const {
    RECT r{};
    ::GetWindowRect(hwnd_, &r);
    return r;
}

RECT Window::WindowRectIn(HWND other) const {
    RECT r = WindowRect();
    ::MapWindowPoints(nullptr, other, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

POINT Window::ClientToScreen(POINT p) const {
    ::ClientToScreen(hwnd_, &p);
    return p;
}

POINT Window::ScreenToClient(POINT p) const {
    ::ScreenToClient(hwnd_, &p);
    return p;
}

MessageWindow::~MessageWindow() {
    if (hwnd_ == nullptr) {
        return;
    }
    if (kind_ == Kind::Subclassed) {
        Unbind();  // the control lives on with its own procedure
    } else {
        ::DestroyWindow(hwnd_);  // its WM_NCDESTROY unbinds
        Unbind();
    }
}

MessageWindow* MessageWindow::FromHandle(HWND hwnd) {
    // One load from the window's own memory: every message of every bound window passes here.
    return hwnd != nullptr
               ? reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA))
               : nullptr;
}

void MessageWindow::Bind(HWND hwnd, Kind kind) {
    hwnd_ = hwnd;
    kind_ = kind;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void MessageWindow::Unbind() {
    if (hwnd_ == nullptr) {
        return;
    }
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    if ((kind_ == Kind::Subclassed || kind_ == Kind::Dialog) && previousProc_ != nullptr) {
        // Only our own procedure can be taken out; one put on top of it later keeps calling it,
        // and it then forwards to the procedure kept in the property.
        if (::GetWindowLongPtrW(hwnd_, GWLP_WNDPROC) ==
            reinterpret_cast<LONG_PTR>(&MessageWindow::SubclassProc)) {
            ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
            ::RemovePropW(hwnd_, kPreviousProcProperty);
        }
        previousProc_ = nullptr;
    }
    hwnd_ = nullptr;
    kind_ = Kind::None;
}

bool MessageWindow::Subclass(HWND hwnd) {
    return SubclassAs(hwnd, Kind::Subclassed);
}

bool MessageWindow::SubclassAs(HWND hwnd, Kind kind) {
    if (hwnd_ != nullptr || !::IsWindow(hwnd) || FromHandle(hwnd) != nullptr) {
        return false;
    }
    // The procedure is replaced through the window's own slot rather than with the common
    // controls' subclass chain, which finds its chain through a window property on every message.
    // A Unicode procedure: the messages stay as the control's own procedure gets them.
    Bind(hwnd, kind);
    ::SetLastError(0);
    const LONG_PTR previous = ::SetWindowLongPtrW(
        hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MessageWindow::SubclassProc));
    if (previous == 0) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        kind_ = Kind::None;
        return false;
    }
    previousProc_ = reinterpret_cast<WNDPROC>(previous);
    ::SetPropW(hwnd, kPreviousProcProperty, reinterpret_cast<HANDLE>(previous));
    return true;
}

ATOM MessageWindow::RegisterClassOnce(const char* className, HCURSOR cursor, HBRUSH background,
                                      UINT classStyle) {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    if (const ATOM existing = static_cast<ATOM>(::GetClassInfoExA(instance, className, &wc))) {
        return existing;
    }
    wc = WNDCLASSEXA{};
    wc.cbSize = sizeof(wc);
    wc.style = classStyle;
    wc.lpfnWndProc = ClassProc;
    wc.hInstance = instance;
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.lpszClassName = className;
    return ::RegisterClassExA(&wc);
}

bool MessageWindow::Create(const char* className, DWORD exStyle, DWORD style, const RECT& rect,
                           HWND parent, UINT_PTR idOrMenu, const char* title) {
    if (hwnd_ != nullptr) {
        return false;
    }
    ::CreateWindowExA(exStyle, className, title, style, rect.left, rect.top, rect.right - rect.left,
                      rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(idOrMenu),
                      ::GetModuleHandleA(nullptr), this);
    return hwnd_ != nullptr;
}

LRESULT MessageWindow::CallDefault() {
    return current_ != nullptr
               ? DefaultProcessing(current_->message, current_->wParam, current_->lParam)
               : 0;
}

LRESULT MessageWindow::DefaultProcessing(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (kind_) {
        case Kind::Created:
            return ::DefWindowProcA(hwnd_, message, wParam, lParam);
        case Kind::Dialog:
            // WM_INITDIALOG reaches only the dialog procedure; its default is the default focus.
            if (message == WM_INITDIALOG) {
                return TRUE;
            }
            return ::CallWindowProcW(previousProc_, hwnd_, message, wParam, lParam);
        case Kind::Subclassed:
            return ::CallWindowProcW(previousProc_, hwnd_, message, wParam, lParam);
        case Kind::None:
            break;
    }
    return 0;
}

LRESULT MessageWindow::Route(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    const Message current{message, wParam, lParam};
    const Message* outer = std::exchange(current_, &current);
    Result result;
    try {
        result = Dispatch(message, wParam, lParam);
    } catch (...) {
        result.reset();  // a failed handler leaves the message to the default processing
    }
    current_ = outer;
    handled = result.has_value();
    return handled ? *result : DefaultProcessing(message, wParam, lParam);
}

LRESULT CALLBACK MessageWindow::ClassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MessageWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self =
            static_cast<MessageWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        if (self != nullptr && self->hwnd_ == nullptr) {
            self->Bind(hwnd, Kind::Created);
        }
    }
    self = FromHandle(hwnd);
    if (self == nullptr) {
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
    bool handled = false;
    const LRESULT result = self->Route(message, wParam, lParam, handled);
    if (message == WM_NCDESTROY) {
        self->Unbind();
    }
    return result;
}

LRESULT CALLBACK MessageWindow::SubclassProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    MessageWindow* self = FromHandle(hwnd);
    if (self == nullptr) {
        const auto previous = reinterpret_cast<WNDPROC>(::GetPropW(hwnd, kPreviousProcProperty));
        return previous != nullptr ? ::CallWindowProcW(previous, hwnd, message, wParam, lParam)
                                   : ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    bool handled = false;
    const LRESULT result = self->Route(message, wParam, lParam, handled);
    if (message == WM_NCDESTROY) {
        self->Unbind();
    }
    return result;
}

MessageWindow::Result MessageWindow::Reflect(UINT message, WPARAM, LPARAM lParam) {
    HWND child = nullptr;
    if (message == WM_NOTIFY) {
        child = reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
    } else if (message == WM_DRAWITEM) {
        const auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        child = draw->CtlType != ODT_MENU ? draw->hwndItem : nullptr;
    } else if (message == WM_MEASUREITEM) {
        const auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        child = measure->CtlType != ODT_MENU ? ::GetDlgItem(hwnd_, static_cast<int>(measure->CtlID))
                                             : nullptr;
    } else {
        return {};
    }
    // Only a direct child's own notifications: a list passes its header's notifications on to its
    // parent, and the header must not see them a second time there.
    MessageWindow* target = FromHandle(child);
    if (target == nullptr || target == this || ::GetParent(child) != hwnd_) {
        return {};
    }
    switch (message) {
        case WM_NOTIFY:
            return target->OnReflectedNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_DRAWITEM:
            return target->OnReflectedDrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
        default:
            return target->OnReflectedMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
    }
}

MessageWindow::Result MessageWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (Result reflected = Reflect(message, wParam, lParam)) {
        return reflected;
    }
    const auto keys = static_cast<UINT>(wParam);
    switch (message) {
        case WM_CREATE:
            return OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
        case WM_DESTROY:
            return OnDestroy();
        case WM_PAINT:
            return OnPaint();
        case WM_PRINTCLIENT:
            return OnPrintClient(reinterpret_cast<HDC>(wParam));
        case WM_SIZE:
            return OnSize(keys, SIZE{LOWORD(lParam), HIWORD(lParam)});
        case WM_SETCURSOR:
            return OnSetCursor(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam));
        case WM_LBUTTONDOWN:
            return OnLButtonDown(keys, PointFromLParam(lParam));
        case WM_LBUTTONUP:
            return OnLButtonUp(keys, PointFromLParam(lParam));
        case WM_LBUTTONDBLCLK:
            return OnLButtonDblClk(keys, PointFromLParam(lParam));
        case WM_MOUSEMOVE:
            return OnMouseMove(keys, PointFromLParam(lParam));
        case WM_CAPTURECHANGED:
            return OnCaptureChanged(reinterpret_cast<HWND>(lParam));
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_TIMER:
            return OnTimer(wParam);
        default:
            return OnMessage(message, wParam, lParam);
    }
}

}  // namespace win
