// Finding a process in the process list by the start of its name, as the list shows its rows: only
// visible rows are searched, in one direction, without wrapping around, from just after the last
// hit, or from the topmost visible row itself when there is no last hit on the list.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// What the search needs of a list. Row indexes run from 0 to RowCount() - 1.
class FindRows {
  public:
    virtual ~FindRows() = default;

    virtual int RowCount() const = 0;
    // The topmost visible row.
    virtual int TopIndex() const = 0;
    // The text of column 0 of a row (the process name), 8-bit in the system code page.
    virtual std::string RowText(int row) const = 0;
    // The height of a row in pixels; 0 when the list cannot tell.
    virtual int RowHeight(int row) const = 0;
    // Scrolls vertically by `pixels` (negative: upwards), as far as the list can.
    virtual void ScrollBy(int pixels) = 0;
    // Makes `row` the only selected row and the focus row.
    virtual void SelectOnly(int row) = 0;
    // What identifies a row's item while rows come and go (the process id in the process list);
    // the row index where the list has nothing better.
    virtual int64_t RowKey(int row) const { return row; }
};

// The last search of a window, kept so that it can be repeated (F3). The window owns one.
struct FindState {
    std::string lastFindText;   // empty until the first search
    int lastFindDirection = 0;  // 1 down; any other value up (0 until the first search)
    bool searched = false;      // whether there was a search to repeat
    // The row of the last hit, by key, and where it was: the next search starts after it.
    bool hasLastHit = false;
    int64_t lastHitKey = 0;
    int lastHitRow = -1;
};

// True when `text` is a prefix of `name`: ASCII letters compare without case, double-byte
// characters of code page 936 compare exactly (their trail bytes are not letters, even where their
// values are). A name shorter than the text does not match; the empty text matches every name.
bool NameStartsWith(std::string_view name, std::string_view text);

// Records `text` and `direction` as the last search, then compares rows walking down for direction
// 1 and up otherwise: from the row after the last hit when that row is still in the list, otherwise
// from the topmost visible row itself. The first row whose name starts with `text` is scrolled to
// the top of the view as far as the list can scroll, becomes the only selected row and the focus
// row, and is the new last hit. Returns 1 for a hit, 0 otherwise (the list is then left as it was).
int FindProcessByName(FindRows& rows, FindState& state, std::string text, int direction);

// FindProcessByName with the last search's text and direction; 0 without searching when there was
// no search yet.
int RepeatLastFind(FindRows& rows, FindState& state);

// FindRows over a report-view list-view window (also an owner-data one, whose owner answers
// LVN_GETDISPINFO for the texts).
class ListViewRows : public FindRows {
  public:
    explicit ListViewRows(HWND list) : list_(list) {}

    int RowCount() const override;
    int TopIndex() const override;
    std::string RowText(int row) const override;
    int RowHeight(int row) const override;
    void ScrollBy(int pixels) override;
    void SelectOnly(int row) override;

  private:
    HWND list_;
};
