#pragma once
#include <QSize>

namespace snapmend {

constexpr int kThumbnailEdge = 64;

// Where a w x h picture is drawn inside the 64 x 64 thumbnail.
struct ThumbnailRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ThumbnailRect& o) const
    {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
};

// Fit inside the square, proportions kept, centred across the short side.
// The scale is held in single precision and every product is truncated, so a
// 100 x 100 picture is drawn 63 x 63. A zero or negative size draws nothing.
ThumbnailRect ComputeThumbnailRect(int w, int h);

// The size to decode a w x h JPEG at before resampling it to drawn x drawn2:
// the smallest 1/2, 1/4 or 1/8 reduction (rounded up, as the decoder does)
// still at least twice the drawn size in each direction; else w x h.
QSize ReducedDecodeSize(int w, int h, const ThumbnailRect& drawn);

}  // namespace snapmend
