#pragma once

namespace snapmend {

// Separable Catmull-Rom resampling of 8-bit pixels with `channels` channels
// (4: the last one is alpha), colour in sRGB, edges clamped.
bool ResampleCatmullRom(const unsigned char* src, int srcW, int srcH, int srcStride, unsigned char* dst, int dstW,
                        int dstH, int dstStride, int channels);

}  // namespace snapmend
