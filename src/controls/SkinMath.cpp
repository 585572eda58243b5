#include "SkinMath.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace snapmend {
namespace {

int ChannelStep(int value, int offset)
{
    if (offset > 0)
        return value + offset > 255 ? 255 - value : offset;
    return value + offset < 0 ? -value : offset;
}

}  // namespace

ColorRef ShiftColor(ColorRef color, int offset)
{
    const int r = RedOf(color), g = GreenOf(color), b = BlueOf(color);
    const int dr = ChannelStep(r, offset), dg = ChannelStep(g, offset), db = ChannelStep(b, offset);
    const int shift = offset > 0 ? std::min({dr, dg, db}) : std::max({dr, dg, db});
    return Rgb(r + shift, g + shift, b + shift);
}

int ShiftSlotColor(ColorRef (&colors)[6], int slot, int offset)
{
    const auto index = static_cast<std::uint8_t>(slot);
    if (index > 5)
        return SkinBadIndex;
    const auto delta = static_cast<std::int16_t>(offset);
    if (delta < -255 || delta > 255)
        return SkinBadParameter;
    colors[index] = ShiftColor(colors[index], delta);
    return SkinOk;
}

int FontHeightForPoints(int points)
{
    const int pixels = points * 10 * 96 / 720;
    return -std::abs(pixels);
}

std::vector<TilePiece> BackgroundTiles(int clientWidth, int clientHeight, int bitmapWidth, int bitmapHeight)
{
    std::vector<TilePiece> pieces;
    if (clientWidth <= 0 || clientHeight <= 0 || bitmapWidth <= 0 || bitmapHeight <= 0)
        return pieces;
    for (int y = 0; y < clientHeight; y += bitmapHeight)
        for (int x = 0; x < clientWidth; x += bitmapWidth)
            pieces.push_back({x, y, std::min(bitmapWidth, clientWidth - x), std::min(bitmapHeight, clientHeight - y)});
    return pieces;
}

int StaticTextFlags(unsigned style, const QString& text)
{
    if (style & SS_CENTERIMAGE) {
        if (!text.contains(QLatin1String("\r\n")))
            return Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine;
        return Qt::AlignHCenter | Qt::AlignTop;
    }
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        return Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
    case SS_RIGHT:
        return Qt::AlignRight | Qt::AlignTop | Qt::TextWordWrap;
    case SS_LEFTNOWORDWRAP:
        return Qt::AlignLeft | Qt::AlignTop;
    default:
        return Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    }
}

}  // namespace snapmend
