#pragma once

namespace snapmend {

// Resamples an 8-bit RGB picture (3 bytes a pixel, rows `srcStride` bytes
// apart) into `dst` with a Catmull-Rom filter, stretched over the reduction
// when shrinking so that no detail aliases. The filtering is done in linear
// light and the edges are clamped. A picture of one colour stays exactly that
// colour. Made for thumbnails: a few hundred pixels a side, a small fraction
// of a millisecond, no allocation per pixel.
void ResampleRgbCatmullRom(const unsigned char* src, int srcW, int srcH, int srcStride, unsigned char* dst,
                           int dstW, int dstH, int dstStride);

}  // namespace snapmend
