// The main window's status bar: a view of a common-controls status bar with panes described by
// width and style, and texts that are 8-bit in code page 936.
#pragma once

#include "win/window.h"

#include <string>
#include <vector>

// Pane styles.
inline constexpr UINT kPaneNoBorders = 0x0100;  // drawn flat
inline constexpr UINT kPaneStretch = 0x0800;    // the last stretching pane reaches the bar's end

class CStatusBar : public win::Window {
  public:
    // Creates the bar as a child of `parent`. False when it cannot be created.
    bool Create(HWND parent, DWORD style, UINT id);
    // One pane per string id, each starting with that string's text. False when the bar does not
    // take the panes.
    bool SetIndicators(const UINT* stringIds, int count);
    // Style and width in pixels of a pane.
    void SetPaneInfo(int index, UINT style, int width);
    void SetPaneText(int index, const std::string& text);
    std::string PaneText(int index) const;

  private:
    bool ApplyParts();

    struct Pane {
        UINT style = 0;
        int width = 0;
        std::string text;
    };
    std::vector<Pane> panes_;
};
