#include "win/dialog.h"

#include <algorithm>
#include <vector>

namespace win {

void DataExchange::Text(int controlId, std::string& value) {
    HWND control = ::GetDlgItem(dialog_, controlId);
    if (control == nullptr) {
        ok_ = false;
        return;
    }
    if (!saving_) {
        ::SetWindowTextA(control, value.c_str());
        return;
    }
    const int length = ::GetWindowTextLengthA(control);
    std::vector<char> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    const int copied = ::GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
    value.assign(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Only binds: once the dialog is subclassed, every later message goes through MessageWindow's
    // procedure first, and what reaches this one is the dialog manager's default processing.
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    auto* self = reinterpret_cast<Dialog*>(lParam);
    if (self == nullptr || !self->SubclassAs(hwnd, Kind::Dialog)) {
        return TRUE;
    }
    bool handled = false;
    return static_cast<INT_PTR>(self->Route(message, wParam, lParam, handled));
}

HWND Dialog::CreateFromTemplate(HWND parent) {
    if (hwnd_ != nullptr) {
        return nullptr;
    }
    ended_ = false;
    result_ = IDCANCEL;
    return ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent,
                                DialogProc, reinterpret_cast<LPARAM>(this));
}

bool Dialog::CreateModeless(HWND parent) {
    modal_ = false;
    return CreateFromTemplate(parent) != nullptr;
}

INT_PTR Dialog::DoModal(HWND parent) {
    modal_ = true;
    if (CreateFromTemplate(parent) == nullptr) {
        modal_ = false;
        return -1;
    }
    HWND owner = parent != nullptr ? ::GetAncestor(parent, GA_ROOT) : nullptr;
    const bool disabledOwner = owner != nullptr && ::IsWindowEnabled(owner);
    if (disabledOwner) {
        ::EnableWindow(owner, FALSE);
    }
    if (!ended_ && hwnd_ != nullptr && !::IsWindowVisible(hwnd_)) {
        ::ShowWindow(hwnd_, SW_SHOWNORMAL);
    }
    MSG msg{};
    while (!ended_ && hwnd_ != nullptr) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1) {
            break;
        }
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            result_ = -1;
            break;
        }
        bool swallowed = false;
        try {
            swallowed = PreTranslateMessage(msg);
        } catch (...) {
            swallowed = false;
        }
        if (swallowed || (hwnd_ != nullptr && ::IsDialogMessageA(hwnd_, &msg))) {
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    // The owner is enabled before the dialog goes, so that activation returns to it.
    if (disabledOwner) {
        ::EnableWindow(owner, TRUE);
    }
    if (hwnd_ != nullptr) {
        ::DestroyWindow(hwnd_);
    }
    modal_ = false;
    return result_;
}

void Dialog::EndModal(INT_PTR result) {
    result_ = result;
    ended_ = true;
    if (!modal_ && hwnd_ != nullptr) {
        ::ShowWindow(hwnd_, SW_HIDE);
    }
    // Wakes the loop when the call came from outside a message of this thread.
    ::PostMessageA(hwnd_, WM_NULL, 0, 0);
}

bool Dialog::UpdateData(bool save) {
    if (hwnd_ == nullptr) {
        return false;
    }
    DataExchange exchange(hwnd_, save);
    DoDataExchange(exchange);
    return exchange.Ok();
}

void Dialog::CenterOnOwner() {
    const HWND owner = hwnd_ != nullptr ? ::GetWindow(hwnd_, GW_OWNER) : nullptr;
    if (owner == nullptr || !::IsWindowVisible(owner) || ::IsIconic(owner)) {
        return;
    }
    RECT outer{};
    RECT own{};
    ::GetWindowRect(hwnd_, &outer);
    ::GetWindowRect(owner, &own);
    const LONG width = outer.right - outer.left;
    const LONG height = outer.bottom - outer.top;
    LONG x = (own.left + own.right - width) / 2;
    LONG y = (own.top + own.bottom - height) / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoA(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        x = std::max(work.left, std::min(x, work.right - width));
        y = std::max(work.top, std::min(y, work.bottom - height));
    }
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Dialog::OnInitDialog() {
    CenterOnOwner();
    UpdateData(false);
    return true;
}

void Dialog::OnOK() {
    if (UpdateData(true)) {
        EndModal(IDOK);
    }
}

void Dialog::OnCancel() {
    EndModal(IDCANCEL);
}

MessageWindow::Result Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        return OnInitDialog() ? TRUE : FALSE;
    }
    return MessageWindow::Dispatch(message, wParam, lParam);
}

MessageWindow::Result Dialog::OnCommand(UINT id, UINT code, HWND) {
    if (code != BN_CLICKED) {
        return {};
    }
    if (id == IDOK) {
        OnOK();
        return 0;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return 0;
    }
    return {};
}

}  // namespace win
