#include "tests/ui_dialogs/dialog_script.h"

#include "tests/win/gui_support.h"

#include <cstdlib>
#include <vector>

namespace guitest {
namespace {

// Thread timers carry no data of their own; one script runs at a time.
DialogScript* current = nullptr;

constexpr UINT kPeriodMs = 30;
constexpr int kMaxTicks = 400;  // 12 seconds

struct Search {
    HWND except;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    char className[32] = {};
    ::GetClassNameA(window, className, sizeof(className));
    if (window != search->except && ::IsWindowVisible(window) &&
        std::string(className) == "#32770") {
        search->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK LongestStatic(HWND child, LPARAM data) {
    auto* text = reinterpret_cast<std::string*>(data);
    char className[32] = {};
    ::GetClassNameA(child, className, sizeof(className));
    if (std::string(className) == "Static") {
        const std::string t = TextOf(child);
        if (t.size() > text->size()) {
            *text = t;
        }
    }
    return TRUE;
}

BOOL CALLBACK HasIcon(HWND child, LPARAM data) {
    const HICON information = ::LoadIconA(nullptr, IDI_INFORMATION);
    if (reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0)) == information) {
        *reinterpret_cast<bool*>(data) = true;
    }
    return TRUE;
}

}  // namespace

DialogScript::DialogScript(std::function<HWND()> dialog, std::vector<Step> steps)
    : dialog_(std::move(dialog)), steps_(std::move(steps)) {
    current = this;
    timer_ = ::SetTimer(nullptr, 0, kPeriodMs, Tick);
}

DialogScript::~DialogScript() {
    ::KillTimer(nullptr, timer_);
    current = nullptr;
}

void CALLBACK DialogScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (current != nullptr) {
        current->RunStep();
    }
}

void DialogScript::RunStep() {
    if (running_ || Finished()) {
        return;  // a step that waits in a loop of its own sees the next tick itself
    }
    running_ = true;
    if (++ticks_ > kMaxTicks) {
        // Out of time: close whatever is open, so the test fails instead of hanging.
        const HWND dialog = dialog_();
        for (MessageBoxSeen box = FindMessageBox(dialog); box.window != nullptr;
             box = FindMessageBox(dialog)) {
            ::SendMessageA(box.window, WM_COMMAND, IDOK, 0);
            Pump();
        }
        if (dialog != nullptr) {
            ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        steps_.clear();
        next_ = 1;  // never Finished()
    } else if (steps_[next_]()) {
        ++next_;
    }
    running_ = false;
}

MessageBoxSeen FindMessageBox(HWND except) {
    Search search{except, {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectBoxes, reinterpret_cast<LPARAM>(&search));
    MessageBoxSeen seen;
    if (search.found.empty()) {
        return seen;
    }
    seen.window = search.found.front();
    seen.owner = ::GetWindow(seen.window, GW_OWNER);
    seen.caption = TextOf(seen.window);
    ::EnumChildWindows(seen.window, LongestStatic, reinterpret_cast<LPARAM>(&seen.text));
    ::EnumChildWindows(seen.window, HasIcon, reinterpret_cast<LPARAM>(&seen.informationIcon));
    return seen;
}

std::string TextOf(HWND window) {
    const int length = ::GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    const int copied = ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

void PostKey(HWND window, WPARAM key) {
    ::PostMessageA(window, WM_KEYDOWN, key, 1);
    ::PostMessageA(window, WM_KEYUP, key, 0xC0000001);
}

void HoldForScreenshot() {
    if (const char* hold = std::getenv("VANTREL_SHOT_HOLD_MS")) {
        PumpFor(std::atoi(hold));
    }
}

}  // namespace guitest
