#include "ThumbnailGeometry.h"

namespace snapmend {

ThumbnailRect ComputeThumbnailRect(int w, int h)
{
    if (w <= 0 || h <= 0)
        return {};
    const float sx = 64.0f / static_cast<float>(w);
    const float sy = 64.0f / static_cast<float>(h);
    const double exactY = 64.0 / static_cast<double>(h);
    ThumbnailRect r;
    double s = 0;
    if (exactY < static_cast<double>(sx)) {
        s = sy;
        r.x = static_cast<int>((64.0 - w * s) * 0.5);
    } else {
        s = sx;
        r.y = static_cast<int>((64.0 - h * s) * 0.5);
    }
    r.width = static_cast<int>(w * s);
    r.height = static_cast<int>(h * s);
    return r;
}

QSize ReducedDecodeSize(int w, int h, const ThumbnailRect& drawn)
{
    for (int denom : {8, 4, 2}) {
        const int rw = (w + denom - 1) / denom;
        const int rh = (h + denom - 1) / denom;
        if (rw >= 2 * drawn.width && rh >= 2 * drawn.height)
            return QSize(rw, rh);
    }
    return QSize(w, h);
}

}  // namespace snapmend
