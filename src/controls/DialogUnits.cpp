#include "DialogUnits.h"

namespace snapmend {
namespace {

// MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

int DialogUnitsToPixelsX(int units) { return MulDiv(units, 6, 4); }
int DialogUnitsToPixelsY(int units) { return MulDiv(units, 13, 8); }

QRect DialogUnitsToPixels(int x, int y, int width, int height)
{
    return QRect(DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
                 DialogUnitsToPixelsY(height));
}

}  // namespace snapmend
