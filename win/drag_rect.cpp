#include "win/drag_rect.h"

#include "win/handles.h"

namespace win {
namespace {

// A frame region: the rectangle less its inside.
Region FrameRegion(const RECT& rect, SIZE thickness) {
    Region outside(::CreateRectRgnIndirect(&rect));
    RECT inside = rect;
    ::InflateRect(&inside, -thickness.cx, -thickness.cy);
    if (inside.right <= inside.left || inside.bottom <= inside.top) {
        return outside;
    }
    Region hole(::CreateRectRgnIndirect(&inside));
    ::CombineRgn(outside.Get(), outside.Get(), hole.Get(), RGN_DIFF);
    return outside;
}

// The 50 % checkerboard: every other pixel, shifted by one on every other row.
Brush HalftoneBrush() {
    WORD pattern[8];
    for (int i = 0; i < 8; ++i) {
        pattern[i] = static_cast<WORD>(0x5555u << (i & 1));
    }
    Bitmap bits(::CreateBitmap(8, 8, 1, 1, pattern));
    return Brush(bits ? ::CreatePatternBrush(bits.Get()) : nullptr);
}

}  // namespace

void DrawDragRect(HDC dc, const RECT& rect, SIZE thickness, const RECT* last, SIZE lastThickness) {
    Region update = FrameRegion(rect, thickness);
    if (last != nullptr) {
        // Inverting old and new in one pass: where they overlap, the two inversions cancel.
        Region old = FrameRegion(*last, lastThickness);
        ::CombineRgn(update.Get(), update.Get(), old.Get(), RGN_XOR);
    }
    Brush brush = HalftoneBrush();
    if (!update || !brush) {
        return;
    }
    Region savedClip(::CreateRectRgn(0, 0, 0, 0));
    const bool hadClip = savedClip && ::GetClipRgn(dc, savedClip.Get()) == 1;
    ::ExtSelectClipRgn(dc, update.Get(), hadClip ? RGN_AND : RGN_COPY);
    RECT box{};
    ::GetClipBox(dc, &box);
    {
        SelectGuard selected(dc, brush.Get());
        ::PatBlt(dc, box.left, box.top, box.right - box.left, box.bottom - box.top, PATINVERT);
    }
    ::SelectClipRgn(dc, hadClip ? savedClip.Get() : nullptr);
}

}  // namespace win
