#pragma once
#include <QRect>

namespace snapmend {

// Dialog templates are laid out in dialog units. The base units are fixed at
// 6 x 13 pixels per 4 x 8 units (the classic 8-point dialog font at 96 dpi),
// rounded like MulDiv so layouts match the original pixel for pixel.
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);
QRect DialogUnitsToPixels(int x, int y, int width, int height);

}  // namespace snapmend
