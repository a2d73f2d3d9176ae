// The feedback band of a drag: a rectangle inverted through a half-tone pattern. Inverting is its
// own undo, so drawing the same band twice restores what was under it.
#pragma once

#include <windows.h>

namespace win {

// Inverts the frame of `rect` that is `thickness` wide (a thickness of the rectangle's full size
// fills it). With `last`, the frame of `last` (`lastThickness` wide) is removed in the same
// operation, so the part where old and new frames overlap does not flicker.
void DrawDragRect(HDC dc, const RECT& rect, SIZE thickness, const RECT* last, SIZE lastThickness);

}  // namespace win
