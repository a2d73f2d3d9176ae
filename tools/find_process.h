// Finding a process in the process list by the start of its name, as the list shows its rows: only
// visible rows are searched, walking away from the topmost visible row in one direction, without
// wrapping around.
#pragma once

#include <windows.h>

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
    // Adds `row` to the selection; other rows and the focus stay as they are.
    virtual void Select(int row) = 0;
};

// The last search of a window, kept so that it can be repeated (F3). The window owns one.
struct FindState {
    std::string lastFindText;   // empty until the first search
    int lastFindDirection = 0;  // 1 down; any other value up (0 until the first search)
};

// True when `text` is a prefix of `name`: ASCII letters compare without case, double-byte
// characters of code page 936 compare exactly (their trail bytes are not letters, even where their
// values are). A name shorter than the text does not match; the empty text matches every name.
bool NameStartsWith(std::string_view name, std::string_view text);

// Records `text` and `direction` as the last search, then compares the rows next to the topmost
// visible row, walking down for direction 1 and up otherwise; the top row itself is not compared.
// The first row whose name starts with `text` is scrolled to the top of the view as far as the list
// can scroll, and is added to the selection. Returns 1 for a hit, 0 otherwise (the list is then
// left as it was). A hit the list cannot scroll to the top stays below it, so the next downward
// search finds it again.
int FindProcessByName(FindRows& rows, FindState& state, std::string text, int direction);

// FindProcessByName with the last search's text and direction.
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
    void Select(int row) override;

  private:
    HWND list_;
};
