#pragma once
// Pure arithmetic of the skinned controls: colour shifting, font heights,
// background tiling and static text layout. No widget code here.
#include <QtCore/qnamespace.h>
#include <QString>
#include <vector>

#include "ColorRef.h"

namespace snapmend {

// Result codes shared by the button's setters.
enum SkinResult { SkinOk = 0, SkinNoResource = 1, SkinBadIndex = 3, SkinBadParameter = 5, SkinBadPressStyle = 6 };

// Moves all three channels of `color` by the same amount, cut back so that no
// channel leaves 0..255; a channel already at the limit stops the whole shift.
ColorRef ShiftColor(ColorRef color, int offset);

// Validates and applies a shift to slot `slot` of six colours. The slot is taken
// as an unsigned byte and the offset as a signed 16-bit value; the slot is tested
// first. Returns SkinBadIndex, SkinBadParameter or SkinOk; on failure nothing changes.
int ShiftSlotColor(ColorRef (&colors)[6], int slot, int offset);

// Font height in pixels for `points` at a fixed 96 dpi, negative like a
// character height: 8 -> -10, 9 -> -12, 12 -> -16, 14 -> -18.
int FontHeightForPoints(int points);

// One copy of the background bitmap: destination (x, y) and the visible size.
struct TilePiece {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const TilePiece& o) const
    {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
};

// The copies that tile a client area from the top-left, rows top to bottom and
// left to right within a row, each cut off at the client's right and bottom edge.
std::vector<TilePiece> BackgroundTiles(int clientWidth, int clientHeight, int bitmapWidth, int bitmapHeight);

// Static text styles (the low bits select the type, SS_CENTERIMAGE is a flag).
enum StaticStyle : unsigned {
    SS_LEFT = 0x0,
    SS_CENTER = 0x1,
    SS_RIGHT = 0x2,
    SS_LEFTNOWORDWRAP = 0xC,
    SS_TYPEMASK = 0x1F,
    SS_CENTERIMAGE = 0x200,
};

// Text drawing flags (Qt::AlignmentFlag | Qt::TextFlag) for a static style and text.
int StaticTextFlags(unsigned style, const QString& text);

}  // namespace snapmend
