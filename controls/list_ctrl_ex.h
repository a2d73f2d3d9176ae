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

    // Takes over a list window (a dialog's list): owner-drawn fixed rows, and `header` on the
    // list's header.
    bool Attach(HWND list);
    bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
    bool CreateEx(DWORD exStyle, DWORD style, const RECT& rect, HWND parent, UINT id);

    // Inserts a left-aligned column of `width` pixels and gives the header its title. `format` and
    // `subItem` are not used. Returns the new column's index, -1 on failure.
    int InsertColumn(int index, const char* title, int format, int width, int subItem);
    // Inserts a copy of `row` before `index` (0 to the row count): 0, or -1 for an index out of
    // range, which inserts nothing.
    int InsertRow(int index, const ProcessRow& row);

    void DrawItem(const DRAWITEMSTRUCT& draw);
    void MeasureItem(MEASUREITEMSTRUCT& measure) const;

  protected:
    Result OnReflectedDrawItem(DRAWITEMSTRUCT* draw) override;
    Result OnReflectedMeasureItem(MEASUREITEMSTRUCT* measure) override;
    Result OnReflectedNotify(NMHDR* notice) override;
    Result OnLButtonDblClk(UINT, POINT) override;
    Result OnMessage(UINT message, WPARAM, LPARAM) override;

  private:
    std::string ItemText(int item, int subItem) const;

    // The expand box pictures, loaded once when the list is attached.
    win::Bitmap plusBox_;
    win::Bitmap minusBox_;
};
