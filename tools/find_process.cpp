#include "tools/find_process.h"

#include "engine/text.h"

#include <commctrl.h>

#include <utility>
#include <vector>

bool NameStartsWith(std::string_view name, std::string_view text) {
    if (name.size() < text.size()) {
        return false;
    }
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (IsGbkLeadByte(c) && i + 1 < text.size()) {
            if (name[i] != text[i] || name[i + 1] != text[i + 1]) {
                return false;
            }
            i += 2;
            continue;
        }
        if (AsciiLower(name[i]) != AsciiLower(text[i])) {
            return false;
        }
        ++i;
    }
    return true;
}

int FindProcessByName(FindRows& rows, FindState& state, std::string text, int direction) {
    state.lastFindText = std::move(text);
    state.lastFindDirection = direction;
    const std::string& wanted = state.lastFindText;

    const int count = rows.RowCount();
    const int top = rows.TopIndex();
    const int step = direction == 1 ? 1 : -1;
    for (int i = top + step; i >= 0 && i < count; i += step) {
        if (!NameStartsWith(rows.RowText(i), wanted)) {
            continue;
        }
        const int height = rows.RowHeight(top);
        if (height > 0 && i != top) {
            rows.ScrollBy((i - top) * height);
        }
        rows.Select(i);
        return 1;
    }
    return 0;
}

int RepeatLastFind(FindRows& rows, FindState& state) {
    return FindProcessByName(rows, state, state.lastFindText, state.lastFindDirection);
}

int ListViewRows::RowCount() const {
    return static_cast<int>(::SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
}

int ListViewRows::TopIndex() const {
    return static_cast<int>(::SendMessageA(list_, LVM_GETTOPINDEX, 0, 0));
}

std::string ListViewRows::RowText(int row) const {
    // The list tells only how much it copied, so a text that fills the buffer may have been cut:
    // ask again with twice the room. Names are short; the limit only stops a list that always
    // fills whatever it is given.
    constexpr std::size_t kLimit = 1 << 20;
    std::vector<char> buffer;
    for (std::size_t size = 256; size <= kLimit; size *= 2) {
        buffer.assign(size, '\0');
        LVITEMA item{};
        item.iSubItem = 0;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(size);
        const auto copied = static_cast<std::size_t>(::SendMessageA(
            list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (copied + 1 < size) {
            return std::string(buffer.data(), copied);
        }
    }
    return std::string(buffer.data());
}

int ListViewRows::RowHeight(int row) const {
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    if (::SendMessageA(list_, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&bounds)) == FALSE) {
        return 0;
    }
    return bounds.bottom - bounds.top;
}

void ListViewRows::ScrollBy(int pixels) {
    ::SendMessageA(list_, LVM_SCROLL, 0, pixels);
}

void ListViewRows::Select(int row) {
    LVITEMA found{};
    found.stateMask = LVIS_SELECTED;
    found.state = LVIS_SELECTED;
    ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&found));
}
