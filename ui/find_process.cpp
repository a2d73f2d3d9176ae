#include "ui/find_process.h"

#include "engine/text.h"

#include <commctrl.h>

#include <utility>
#include <vector>

bool NameStartsWith(std::string_view name, std::string_view text) {
    // Walked by the text's characters: a double-byte one compares exactly, an ASCII letter without
    // case.
    return name.size() >= text.size() && EqualsNoCaseMultibyte(text, name.substr(0, text.size()));
}

namespace {

// The row of the last hit now, or -1 when it is gone (a rebuild dropped it, a fold hid it).
int RowOfLastHit(const FindRows& rows, const FindState& state, int count) {
    if (!state.hasLastHit) {
        return -1;
    }
    if (state.lastHitRow >= 0 && state.lastHitRow < count &&
        rows.RowKey(state.lastHitRow) == state.lastHitKey) {
        return state.lastHitRow;
    }
    for (int i = 0; i < count; ++i) {
        if (rows.RowKey(i) == state.lastHitKey) {
            return i;
        }
    }
    return -1;
}

}  // namespace

int FindProcessByName(FindRows& rows, FindState& state, std::string text, int direction) {
    state.lastFindText = std::move(text);
    state.lastFindDirection = direction;
    state.searched = true;
    const std::string& wanted = state.lastFindText;

    const int count = rows.RowCount();
    const int top = rows.TopIndex();
    const int step = direction == 1 ? 1 : -1;
    const int lastHit = RowOfLastHit(rows, state, count);
    const int start = lastHit >= 0 ? lastHit + step : top;
    for (int i = start; i >= 0 && i < count; i += step) {
        if (!NameStartsWith(rows.RowText(i), wanted)) {
            continue;
        }
        const int height = rows.RowHeight(top);
        if (height > 0 && i != top) {
            rows.ScrollBy((i - top) * height);
        }
        rows.SelectOnly(i);
        state.hasLastHit = true;
        state.lastHitKey = rows.RowKey(i);
        state.lastHitRow = i;
        return 1;
    }
    return 0;
}

int RepeatLastFind(FindRows& rows, FindState& state) {
    if (!state.searched) {
        return 0;
    }
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
    // ask again with twice the room. A cut never splits a double-byte character, so a text cut
    // before one ends two bytes short of the buffer's end: only a text with room for two more
    // bytes is surely whole. Names are short; the limit only stops a list that always fills
    // whatever it is given.
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
        if (copied + 2 < size) {
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

void ListViewRows::SelectOnly(int row) {
    // Every other row loses its selection (the list keeps selections as ranges, so this costs
    // nothing per row), then the row is selected, focused and becomes the anchor for Shift.
    LVITEMA none{};
    none.stateMask = LVIS_SELECTED;
    none.state = 0;
    ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                   reinterpret_cast<LPARAM>(&none));
    LVITEMA found{};
    found.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    found.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&found));
    ::SendMessageA(list_, LVM_SETSELECTIONMARK, 0, row);
}
