// The process list: a report-view list whose rows it draws itself from its `rows` table (indent,
// expand box, file icon, colours); the cell texts come from the list, which asks its owner.
#pragma once

#include "controls/header_ctrl_cl.h"
#include "controls/process_row.h"
#include "win/handles.h"
#include "win/window.h"

#include <cstdint>
#include <string>
#include <vector>

class CListCtrlEx : public win::MessageWindow {
  public:
    // Small and large system image lists of file icons; they belong to the system.
    CListCtrlEx();

    CHeaderCtrlCl header;
    // Row height asked of the list; 0 keeps the height the system proposes.
    int32_t rowHeight = 0;
    // Entry i describes list item i. The owner edits it and keeps the list's item count equal to
    // its size, both on the user-interface thread; the control only reads it while drawing.
    std::vector<ProcessRow> rows;
    HIMAGELIST smallImageList = nullptr;
    HIMAGELIST largeImageList = nullptr;
    // The DPI the indent, boxes and margins are scaled to; the owner sets it.
    int dpi = 96;
    // Shows the whole text of a cell the column cuts, while the pointer is over it.
    HWND tooltip = nullptr;
    int tipItem = -1;
    int tipColumn = -1;

    // Takes over a list window (a dialog's list): owner-drawn fixed rows, and `header` on the
    // list's header.
    bool Attach(HWND list);
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
    bool CreateEx(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, UINT id);

    // Inserts a left-aligned column of `width` pixels and gives the header its title. Returns the
    // new column's index, -1 on failure.
    int InsertColumn(int index, const char* title, int width);
    // Inserts a copy of `row` before `index` (0 to the row count): 0, or -1 for an index out of
    // range, which inserts nothing.
    int InsertRow(int index, const ProcessRow& row);

    // Column 0 of a row: the box, icon and text of a deep row end at its right edge.
    RECT Column0Rect(int row) const;
    // Where the row's plus or minus box lies by its indent, wherever column 0 ends; empty for a
    // row that is not there.
    RECT FoldBoxPlace(int row) const;
    // Where the row's plus or minus box is drawn and clicked: only its part inside column 0, empty
    // when the indent pushed it out.
    RECT ExpandBoxRect(int row) const;
    // Where a cell's text is drawn.
    RECT TextRect(int row, int column) const;
    // True when a cell's text is wider than its place.
    bool CellIsCut(int row, int column) const;
    // Makes `row` the only selected row, the focus row and the anchor for Shift (find, a search's
    // jump). The rows selected before are dropped one by one where they are few (see
    // DropSelection), else all at once.
    void SelectOnly(int row);

    void DrawItem(const DRAWITEMSTRUCT& draw);
    void MeasureItem(MEASUREITEMSTRUCT& measure) const;

  protected:
    Result OnReflectedDrawItem(DRAWITEMSTRUCT* draw) override;
    Result OnReflectedMeasureItem(MEASUREITEMSTRUCT* measure) override;
    Result OnReflectedNotify(NMHDR* notice) override;
    Result OnLButtonDown(UINT keys, POINT point) override;
    Result OnLButtonDblClk(UINT, POINT) override;
    Result OnMouseMove(UINT keys, POINT point) override;
    Result OnMessage(UINT message, WPARAM, LPARAM) override;

  private:
    // Wine's owner-data list clears a selection before it sets a new one by visiting every row,
    // a round trip to the server each, unless nothing is selected. A plain key or click drops the
    // few selected rows one by one first, so that the list finds nothing to clear.
    std::vector<int> DropSelection();
    // The rows a plain key or click would deselect, found without visiting every row; empty when
    // nothing is selected or the selection is too big to find cheaply.
    std::vector<int> SelectedRows() const;
    void SetRowsSelected(const std::vector<int>& rows, bool selected);
    // The row under `point` (client coordinates), or -1 where there is none.
    int RowAt(POINT point) const;
    std::string ItemText(int item, int subItem) const;
    int Px(int pixels) const { return ::MulDiv(pixels, dpi, 96); }
    SIZE IconSize() const;
    void CreateTooltip();
    void HideTooltip();

    // The expand box pictures, loaded once when the list is attached.
    win::Bitmap plusBox_;
    win::Bitmap minusBox_;
};
