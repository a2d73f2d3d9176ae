// The Win32 layer on real windows: owners and guards, the window procedure and its bindings, the
// modal dialog loop with data exchange, and the drag band.
#include "tests/win/gui_support.h"
#include "win/dialog.h"
#include "win/drag_rect.h"
#include "win/handles.h"
#include "win/window.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using guitest::Host;
using guitest::Pixels;

static_assert(!std::is_copy_constructible_v<win::Brush> && !std::is_copy_assignable_v<win::Brush>);
static_assert(!std::is_copy_constructible_v<win::KernelHandle>);
static_assert(std::is_nothrow_move_constructible_v<win::Font>);

TEST(Handles, GdiOwnerDeletesOnceAndMovesOwnership) {
    HBRUSH first = nullptr;
    HBRUSH second = nullptr;
    {
        win::Brush a(::CreateSolidBrush(RGB(1, 2, 3)));
        first = a.Get();
        win::Brush b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.Get(), first);
        EXPECT_EQ(::GetObjectType(first), static_cast<DWORD>(OBJ_BRUSH));
        b = win::Brush(::CreateSolidBrush(RGB(4, 5, 6)));  // the old brush goes now
        second = b.Get();
        EXPECT_EQ(::GetObjectType(first), 0u);
        EXPECT_EQ(::GetObjectType(second), static_cast<DWORD>(OBJ_BRUSH));
    }
    EXPECT_EQ(::GetObjectType(second), 0u);
}

TEST(Handles, KernelHandleIsClosedAtScopeEndUnlessReleased) {
    HANDLE closed = nullptr;
    HANDLE kept = nullptr;
    {
        win::KernelHandle a(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        win::KernelHandle b(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        closed = a.Get();
        kept = b.Release();
    }
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(closed, &flags));
    EXPECT_TRUE(::GetHandleInformation(kept, &flags));
    ::CloseHandle(kept);
}

TEST(Handles, SelectGuardRestoresThePreviousObject) {
    win::MemoryDc dc(::CreateCompatibleDC(nullptr));
    const HGDIOBJ before = ::GetCurrentObject(dc.Get(), OBJ_PEN);
    win::Pen pen(::CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    {
        win::SelectGuard guard(dc.Get(), pen.Get());
        EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_PEN), pen.Get());
    }
    EXPECT_EQ(::GetCurrentObject(dc.Get(), OBJ_PEN), before);
}

// A window of our own class whose handlers record what they get.
class Probe : public win::MessageWindow {
  public:
    bool Make(HWND parent = nullptr) {
        RegisterClassOnce("VantrelProbe", nullptr, nullptr);
        const DWORD style = parent != nullptr ? WS_CHILD : WS_POPUP;
        return Create("VantrelProbe", 0, style, RECT{0, 0, 50, 20}, parent, 0, "probe");
    }
    using MessageWindow::Subclass;

    POINT point{};
    UINT keys = 0;
    bool throwOnSetText = false;
    std::optional<LRESULT> reflectedResult;
    int reflected = 0;

  protected:
    Result OnLButtonDown(UINT k, POINT p) override {
        keys = k;
        point = p;
        return 42;
    }
    Result OnMessage(UINT message, WPARAM, LPARAM) override {
        if (message == WM_SETTEXT && throwOnSetText) {
            throw std::runtime_error("handler failed");
        }
        return {};
    }
    Result OnReflectedNotify(NMHDR*) override {
        ++reflected;
        return reflectedResult;
    }
    Result OnReflectedMeasureItem(MEASUREITEMSTRUCT* measure) override {
        ++reflected;
        measure->itemHeight = 31;
        return TRUE;
    }
};

std::string TextOf(HWND hwnd) {
    char buffer[256] = {};
    ::GetWindowTextA(hwnd, buffer, sizeof(buffer));
    return buffer;
}

TEST(MessageWindow, HandlersGetUnpackedParametersAndOthersGetDefaultProcessing) {
    Probe probe;
    ASSERT_TRUE(probe.Make());
    EXPECT_EQ(win::MessageWindow::FromHandle(probe.Handle()), &probe);
    EXPECT_EQ(probe.Send(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(-5, 7)), 42);
    EXPECT_EQ(probe.point.x, -5);
    EXPECT_EQ(probe.point.y, 7);
    EXPECT_EQ(probe.keys, static_cast<UINT>(MK_LBUTTON | MK_SHIFT));
    // No handler: DefWindowProc stores the text.
    EXPECT_EQ(probe.Send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("abc")), TRUE);
    EXPECT_EQ(TextOf(probe.Handle()), "abc");
}

TEST(MessageWindow, AnExceptionInAHandlerBecomesDefaultProcessing) {
    Probe probe;
    ASSERT_TRUE(probe.Make());
    probe.throwOnSetText = true;
    EXPECT_EQ(probe.Send(WM_SETTEXT, 0, reinterpret_cast<LPARAM>("xyz")), TRUE);
    EXPECT_EQ(TextOf(probe.Handle()), "xyz");
    // Still bound and handling.
    EXPECT_EQ(probe.Send(WM_LBUTTONDOWN, 0, 0), 42);
}

TEST(MessageWindow, BindingEndsWithTheWindowOrWithTheObject) {
    {  // the window goes first: the object lets go of it
        Probe probe;
        ASSERT_TRUE(probe.Make());
        const HWND hwnd = probe.Handle();
        ::DestroyWindow(hwnd);
        EXPECT_EQ(probe.Handle(), nullptr);
        EXPECT_FALSE(::IsWindow(hwnd));
    }
    {  // the object goes first: the window it created goes with it
        auto probe = std::make_unique<Probe>();
        ASSERT_TRUE(probe->Make());
        const HWND hwnd = probe->Handle();
        probe.reset();
        EXPECT_FALSE(::IsWindow(hwnd));
    }
    {  // a subclassed control outlives its object and works on with its own procedure
        Host host(200, 100);
        const HWND edit = ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20,
                                            host.Handle(), nullptr, nullptr, nullptr);
        {
            Probe control;
            ASSERT_TRUE(control.Subclass(edit));
            Probe second;
            EXPECT_FALSE(second.Subclass(edit));  // one object per window
            EXPECT_EQ(::SendMessageA(edit, WM_LBUTTONDOWN, 0, 0), 42);
        }
        EXPECT_EQ(win::MessageWindow::FromHandle(edit), nullptr);
        EXPECT_NE(::SendMessageA(edit, WM_LBUTTONDOWN, 0, 0), 42);
        ::SetWindowTextA(edit, "ok");
        EXPECT_EQ(TextOf(edit), "ok");
    }
}

BOOL CALLBACK CountProperty(HWND, LPSTR, HANDLE, ULONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int PropertyCount(HWND hwnd) {
    int count = 0;
    ::EnumPropsExA(hwnd, CountProperty, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Every message finds its object with one load from the window's user data, not through a window
// property (a call into the system per message, a server round trip under Wine).
TEST(MessageWindow, TheWindowLeadsToItsObjectThroughItsUserDataNotAProperty) {
    Probe probe;
    ASSERT_TRUE(probe.Make());
    EXPECT_EQ(::GetWindowLongPtrW(probe.Handle(), GWLP_USERDATA),
              reinterpret_cast<LONG_PTR>(static_cast<win::MessageWindow*>(&probe)));
    // No more properties than the system gives any window of that kind.
    const HWND plain = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                                         nullptr, nullptr);
    EXPECT_EQ(PropertyCount(probe.Handle()), PropertyCount(plain));
    ::DestroyWindow(plain);

    Host host(200, 100);
    const HWND edit = ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20,
                                        host.Handle(), nullptr, nullptr, nullptr);
    const int before = PropertyCount(edit);
    {
        Probe control;
        ASSERT_TRUE(control.Subclass(edit));
        EXPECT_EQ(::GetWindowLongPtrW(edit, GWLP_USERDATA),
                  reinterpret_cast<LONG_PTR>(static_cast<win::MessageWindow*>(&control)));
        // Its own procedure in the window's slot, not the common controls' chain of subclasses,
        // which is found through a property on every message.
        EXPECT_NE(::GetWindowLongPtrW(edit, GWLP_WNDPROC), 0);
        EXPECT_LE(PropertyCount(edit), before + 1);
        EXPECT_EQ(::SendMessageA(edit, WM_LBUTTONDOWN, 0, 0), 42);
        ::SetWindowTextA(edit, "typed");
        EXPECT_EQ(TextOf(edit), "typed");
    }
    EXPECT_EQ(::GetWindowLongPtrW(edit, GWLP_USERDATA), 0);
    EXPECT_EQ(PropertyCount(edit), before);
}

TEST(MessageWindow, ControlNotificationsAreOfferedToTheControlBeforeItsParent) {
    struct Case {
        std::optional<LRESULT> controlAnswer;
        LRESULT expectedResult;
        int parentSees;
    };
    for (const Case& c : {Case{5, 5, 0}, Case{std::nullopt, 0, 1}}) {
        Host host(200, 100);
        const HWND edit =
            ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, host.Handle(),
                              reinterpret_cast<HMENU>(77), nullptr, nullptr);
        Probe control;
        ASSERT_TRUE(control.Subclass(edit));
        control.reflectedResult = c.controlAnswer;
        NMHDR notice{edit, 77, static_cast<UINT>(NM_CLICK)};
        EXPECT_EQ(host.Send(WM_NOTIFY, 77, reinterpret_cast<LPARAM>(&notice)), c.expectedResult);
        EXPECT_EQ(control.reflected, 1);
        EXPECT_EQ(host.CountNotices(static_cast<UINT>(NM_CLICK)), c.parentSees);
    }
}

TEST(MessageWindow, MeasureRequestsReachTheControlByIdButMenusDoNot) {
    Host host(200, 100);
    const HWND edit =
        ::CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, host.Handle(),
                          reinterpret_cast<HMENU>(78), nullptr, nullptr);
    Probe control;
    ASSERT_TRUE(control.Subclass(edit));
    MEASUREITEMSTRUCT list{ODT_LISTVIEW, 78, 0, 0, 17, 0};
    host.Send(WM_MEASUREITEM, 78, reinterpret_cast<LPARAM>(&list));
    EXPECT_EQ(list.itemHeight, 31u);
    MEASUREITEMSTRUCT menu{ODT_MENU, 78, 0, 0, 17, 0};
    host.Send(WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&menu));
    EXPECT_EQ(menu.itemHeight, 17u);
}

// Dialog 200 of the test resources: edit 1002, OK and Cancel.
class KeyDialog : public win::Dialog {
  public:
    KeyDialog() : Dialog(200) {}
    bool swallowEnter = false;
    bool quitAtStart = false;
    std::string text = "初始";
    std::string shownAtStart;
    std::vector<WPARAM> keysSeen;
    bool ownerEnabledWhileRunning = true;
    HWND owner = nullptr;

  protected:
    bool OnInitDialog() override {
        const bool result = Dialog::OnInitDialog();
        shownAtStart = TextOf(Item(1002).Handle());
        if (quitAtStart) {
            ::PostQuitMessage(3);
            return result;
        }
        const HWND edit = Item(1002).Handle();
        ::SetWindowTextA(edit, "进程abc");
        ::PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
        ::PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
        return result;
    }
    void DoDataExchange(win::DataExchange& exchange) override { exchange.Text(1002, text); }
    bool PreTranslateMessage(MSG& msg) override {
        if (msg.message != WM_KEYDOWN) {
            return false;
        }
        keysSeen.push_back(msg.wParam);
        ownerEnabledWhileRunning = ::IsWindowEnabled(owner) != FALSE;
        return swallowEnter && msg.wParam == VK_RETURN;
    }
};

TEST(Dialog, ModalLoopLetsTheDialogSeeKeysFirstAndExchangesData) {
    struct Case {
        bool swallowEnter;
        INT_PTR result;
        const char* text;  // the member after the run
    };
    // Enter presses OK (which saves the edit); swallowed, the run goes on to Esc, which saves
    // nothing.
    for (const Case& c : {Case{false, IDOK, "进程abc"}, Case{true, IDCANCEL, "初始"}}) {
        Host host(200, 100);
        KeyDialog dialog;
        dialog.owner = host.Handle();
        dialog.swallowEnter = c.swallowEnter;
        EXPECT_EQ(dialog.DoModal(host.Handle()), c.result);
        EXPECT_EQ(dialog.shownAtStart, "初始");
        EXPECT_EQ(dialog.text, c.text);
        ASSERT_FALSE(dialog.keysSeen.empty());
        EXPECT_EQ(dialog.keysSeen.front(), static_cast<WPARAM>(VK_RETURN));
        EXPECT_EQ(dialog.keysSeen.size(), c.swallowEnter ? 2u : 1u);
        EXPECT_FALSE(dialog.ownerEnabledWhileRunning);
        EXPECT_TRUE(::IsWindowEnabled(host.Handle()));
        EXPECT_EQ(dialog.Handle(), nullptr);
    }
}

TEST(Dialog, AQuitMessageEndsTheRunAndIsPostedAgain) {
    KeyDialog dialog;
    dialog.quitAtStart = true;
    EXPECT_EQ(dialog.DoModal(nullptr), -1);
    MSG msg{};
    ASSERT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST(Dialog, MissingTemplateFailsWithoutRunning) {
    win::Dialog dialog(4242);
    EXPECT_EQ(dialog.DoModal(nullptr), -1);
}

// A memory canvas of one colour for the drag band.
struct Canvas {
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;
    win::MemoryDc dc{::CreateCompatibleDC(nullptr)};
    win::Bitmap bitmap;
    HGDIOBJ previous = nullptr;
    explicit Canvas(COLORREF fill) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, -kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        bitmap.Reset(::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        previous = ::SelectObject(dc.Get(), bitmap.Get());
        win::Brush brush(::CreateSolidBrush(fill));
        RECT all{0, 0, kWidth, kHeight};
        ::FillRect(dc.Get(), &all, brush.Get());
    }
    ~Canvas() { ::SelectObject(dc.Get(), previous); }
    Pixels Read() const { return Pixels::OfDc(dc.Get(), RECT{0, 0, kWidth, kHeight}); }
};

constexpr COLORREF kFill = RGB(10, 200, 30);
constexpr COLORREF kInverted = RGB(245, 55, 225);

bool SamePixels(const Pixels& a, const Pixels& b) {
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            if (a.At(x, y) != b.At(x, y)) {
                return false;
            }
        }
    }
    return true;
}

TEST(DrawDragRect, FullThicknessInvertsEveryOtherPixelOfTheBandAndAgainRestores) {
    Canvas canvas(kFill);
    const RECT band{8, 10, 40, 15};
    win::DrawDragRect(canvas.dc.Get(), band, SIZE{32, 5}, nullptr, SIZE{0, 0});
    const Pixels once = canvas.Read();
    for (int y = 0; y < Canvas::kHeight; ++y) {
        for (int x = 0; x < Canvas::kWidth; ++x) {
            const POINT p{x, y};
            if (!::PtInRect(&band, p)) {
                ASSERT_EQ(once.At(x, y), kFill) << x << "," << y;
                continue;
            }
            ASSERT_TRUE(once.At(x, y) == kFill || once.At(x, y) == kInverted);
            // A checkerboard: each neighbour to the right and below is in the other state.
            if (x + 1 < band.right) {
                ASSERT_NE(once.At(x, y), once.At(x + 1, y));
            }
            if (y + 1 < band.bottom) {
                ASSERT_NE(once.At(x, y), once.At(x, y + 1));
            }
        }
    }
    win::DrawDragRect(canvas.dc.Get(), band, SIZE{32, 5}, nullptr, SIZE{0, 0});
    EXPECT_EQ(canvas.Read().Count(RECT{0, 0, Canvas::kWidth, Canvas::kHeight}, kFill),
              Canvas::kWidth * Canvas::kHeight);
}

TEST(DrawDragRect, MovingTheBandLeavesWhatADrawingOfTheNewBandAloneLeaves) {
    const RECT first{8, 10, 40, 15};
    const RECT second{8, 13, 40, 18};  // overlaps the first by two rows
    Canvas moved(kFill);
    win::DrawDragRect(moved.dc.Get(), first, SIZE{32, 5}, nullptr, SIZE{0, 0});
    win::DrawDragRect(moved.dc.Get(), second, SIZE{32, 5}, &first, SIZE{32, 5});
    Canvas fresh(kFill);
    win::DrawDragRect(fresh.dc.Get(), second, SIZE{32, 5}, nullptr, SIZE{0, 0});
    EXPECT_TRUE(SamePixels(moved.Read(), fresh.Read()));
    // and the rows that only the first band covered are back to the fill
    EXPECT_EQ(moved.Read().Count(RECT{8, 10, 40, 13}, kFill), 32 * 3);
}

TEST(DrawDragRect, ThinFrameLeavesTheInsideAlone) {
    Canvas canvas(kFill);
    const RECT band{4, 4, 44, 30};
    win::DrawDragRect(canvas.dc.Get(), band, SIZE{2, 2}, nullptr, SIZE{0, 0});
    const Pixels p = canvas.Read();
    EXPECT_EQ(p.Count(RECT{6, 6, 42, 28}, kFill), 36 * 22);
    EXPECT_GT(p.Count(RECT{4, 4, 44, 6}, kInverted), 0);
}

}  // namespace
