#include "controls/status_bar.h"

#include "win/text.h"

#include <commctrl.h>

bool CStatusBar::Create(HWND parent, DWORD style, UINT id) {
    // Placed by its owner's layout, not by the control itself.
    const HWND bar = ::CreateWindowExA(
        0, STATUSCLASSNAMEA, "", style | CCS_NORESIZE | CCS_NOPARENTALIGN, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ::GetModuleHandleA(nullptr), nullptr);
    hwnd_ = bar;
    return bar != nullptr;
}

bool CStatusBar::SetIndicators(const UINT* stringIds, int count) {
    if (hwnd_ == nullptr || count <= 0) {
        return false;
    }
    panes_.assign(static_cast<std::size_t>(count), Pane{});
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        ::LoadStringA(::GetModuleHandleA(nullptr), stringIds[i], text, sizeof(text));
        panes_[static_cast<std::size_t>(i)].text = text;
    }
    if (!ApplyParts()) {
        panes_.clear();
        return false;
    }
    for (int i = 0; i < count; ++i) {
        SetPaneText(i, panes_[static_cast<std::size_t>(i)].text);
    }
    return true;
}

void CStatusBar::SetPaneInfo(int index, UINT style, int width) {
    if (index < 0 || static_cast<std::size_t>(index) >= panes_.size()) {
        return;
    }
    Pane& pane = panes_[static_cast<std::size_t>(index)];
    const bool bordersChanged = ((pane.style ^ style) & kPaneNoBorders) != 0;
    pane.style = style;
    pane.width = width;
    ApplyParts();
    if (bordersChanged) {
        SetPaneText(index, pane.text);
    }
}

void CStatusBar::SetPaneText(int index, const std::string& text) {
    if (hwnd_ == nullptr || index < 0 || static_cast<std::size_t>(index) >= panes_.size()) {
        return;
    }
    Pane& pane = panes_[static_cast<std::size_t>(index)];
    pane.text = text;
    const WPARAM how =
        static_cast<WPARAM>(index) | ((pane.style & kPaneNoBorders) != 0 ? SBT_NOBORDERS : 0);
    // As UTF-16: the bar would convert 8-bit text by the system's code page, not the program's.
    const std::wstring wide = win::Wide(pane.text);
    Send(SB_SETTEXTW, how, reinterpret_cast<LPARAM>(wide.c_str()));
}

std::string CStatusBar::PaneText(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= panes_.size()) {
        return {};
    }
    return panes_[static_cast<std::size_t>(index)].text;
}

bool CStatusBar::ApplyParts() {
    // A pane ends where its width says; the last stretching pane takes the rest of the bar.
    std::vector<int> rightEdges;
    int right = 0;
    int lastStretch = -1;
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        if ((panes_[i].style & kPaneStretch) != 0) {
            lastStretch = static_cast<int>(i);
        }
    }
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        right += panes_[i].width > 0 ? panes_[i].width : 0;
        rightEdges.push_back(static_cast<int>(i) == lastStretch && i + 1 == panes_.size() ? -1
                                                                                          : right);
    }
    return Send(SB_SETPARTS, rightEdges.size(), reinterpret_cast<LPARAM>(rightEdges.data())) != 0;
}
