// Windows as seen from C++: Window views a window it does not own; MessageWindow binds one object
// to one window and turns its messages into typed handlers.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <optional>

namespace win {

// A view of a window. Copying it copies the handle, never the window; Windows destroys child
// windows with their parent, so nothing here destroys anything.
class Window {
  public:
    Window() = default;
    explicit Window(HWND hwnd) : hwnd_(hwnd) {}

    HWND Handle() const { return hwnd_; }
    explicit operator bool() const { return hwnd_ != nullptr && ::IsWindow(hwnd_); }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(hwnd_, message, wParam, lParam);
    }
    bool Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageA(hwnd_, message, wParam, lParam) != FALSE;
    }

    Window Parent() const { return Window(::GetParent(hwnd_)); }
    Window Item(int id) const { return Window(::GetDlgItem(hwnd_, id)); }
    int Id() const { return ::GetDlgCtrlID(hwnd_); }
    LONG_PTR Style() const { return ::GetWindowLongPtrA(hwnd_, GWL_STYLE); }
    void SetStyle(LONG_PTR style) const { ::SetWindowLongPtrA(hwnd_, GWL_STYLE, style); }

    RECT ClientRect() const;
    RECT WindowRect() const;  // screen coordinates
    // The window rectangle in the client coordinates of `other` (normally the parent).
    RECT WindowRectIn(HWND other) const;
    POINT ClientToScreen(POINT p) const;
    POINT ScreenToClient(POINT p) const;

    bool Move(int x, int y, int width, int height, bool repaint = true) const {
        return ::MoveWindow(hwnd_, x, y, width, height, repaint ? TRUE : FALSE) != FALSE;
    }
    bool Move(const RECT& r, bool repaint = true) const {
        return Move(r.left, r.top, r.right - r.left, r.bottom - r.top, repaint);
    }
    void Invalidate(bool erase = true) const { ::InvalidateRect(hwnd_, nullptr, erase); }
    void Show(int command) const { ::ShowWindow(hwnd_, command); }
    void Destroy() const { ::DestroyWindow(hwnd_); }

  protected:
    HWND hwnd_ = nullptr;
};

// The window's GWLP_USERDATA, the slot every window keeps for the application that created it,
// leads from the window to its object: one load per message, where a window property would cost a
// call into the system (under Wine, a round trip to its server) on every message. The slot of a
// bound window belongs to this layer; nothing else in the program may write it.
//
// One object bound to one window for the window's life: created by this object from a class of ours
// (Create), a control of the platform taken over by subclassing (Subclass), or a dialog (see
// Dialog). The binding ends at WM_NCDESTROY, or when the object is destroyed first: a window this
// object created is destroyed with it, a subclassed control is handed back to its own procedure.
//
// Each message goes to Dispatch, which first offers the notifications a control sends its parent
// (WM_NOTIFY, WM_DRAWITEM, WM_MEASUREITEM) to the MessageWindow of that control, then calls the
// typed handler. A handler returns the message's result, or nothing for default processing.
// Exceptions never leave the window procedure: a handler that throws gets default processing.
class MessageWindow : public Window {
  public:
    MessageWindow() = default;
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    virtual ~MessageWindow();

    // The object bound to a window, or null.
    static MessageWindow* FromHandle(HWND hwnd);

    // Takes over a window of another class (a platform control). False when this object is already
    // bound or the subclassing fails.
    bool Subclass(HWND hwnd);

  protected:
    using Result = std::optional<LRESULT>;

    // Registers (once per process) a window class whose windows are bound to the object passed to
    // Create. Returns the class atom, 0 on failure.
    static ATOM RegisterClassOnce(const char* className, HCURSOR cursor, HBRUSH background,
                                  UINT classStyle = 0);
    // Creates a window of a class registered with RegisterClassOnce, bound to this object.
    bool Create(const char* className, DWORD exStyle, DWORD style, const RECT& rect, HWND parent,
                UINT_PTR idOrMenu, const char* title = "");

    // The default processing of the message being handled, with its original parameters.
    LRESULT CallDefault();
    // The default processing of any message, as the window's kind does it.
    LRESULT DefaultProcessing(UINT message, WPARAM wParam, LPARAM lParam);

    virtual Result Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    // Typed handlers; nothing returned means default processing.
    virtual Result OnCreate(CREATESTRUCTA*) { return {}; }
    virtual Result OnDestroy() { return {}; }
    virtual Result OnPaint() { return {}; }
    virtual Result OnPrintClient(HDC) { return {}; }
    virtual Result OnSize(UINT /*type*/, SIZE) { return {}; }
    virtual Result OnSetCursor(HWND /*over*/, UINT /*hitTest*/, UINT /*mouseMessage*/) {
        return {};
    }
    virtual Result OnLButtonDown(UINT /*keys*/, POINT) { return {}; }
    virtual Result OnLButtonUp(UINT /*keys*/, POINT) { return {}; }
    virtual Result OnLButtonDblClk(UINT /*keys*/, POINT) { return {}; }
    virtual Result OnMouseMove(UINT /*keys*/, POINT) { return {}; }
    virtual Result OnCaptureChanged(HWND /*newCapture*/) { return {}; }
    virtual Result OnCommand(UINT /*id*/, UINT /*code*/, HWND /*control*/) { return {}; }
    virtual Result OnNotify(NMHDR*) { return {}; }
    virtual Result OnTimer(UINT_PTR /*id*/) { return {}; }
    // Every other message.
    virtual Result OnMessage(UINT /*message*/, WPARAM, LPARAM) { return {}; }

    // Notifications this window sent to its parent, offered back to it before the parent's own
    // handlers see them; a result consumes the notification.
    virtual Result OnReflectedNotify(NMHDR*) { return {}; }
    virtual Result OnReflectedDrawItem(DRAWITEMSTRUCT*) { return {}; }
    virtual Result OnReflectedMeasureItem(MEASUREITEMSTRUCT*) { return {}; }

    // For Dialog: binding and procedure shapes other than Create and Subclass.
    enum class Kind { None, Created, Subclassed, Dialog };
    void Bind(HWND hwnd, Kind kind);
    bool SubclassAs(HWND hwnd, Kind kind);
    void Unbind();
    LRESULT Route(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    Kind kind_ = Kind::None;

  private:
    static LRESULT CALLBACK ClassProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM);
    Result Reflect(UINT message, WPARAM wParam, LPARAM lParam);

    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    const Message* current_ = nullptr;
    // The procedure of a subclassed window or dialog before ours; default processing calls it.
    WNDPROC previousProc_ = nullptr;
};

// The point of a mouse message, with negative coordinates kept.
inline POINT PointFromLParam(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

}  // namespace win
