#include "StbResize.h"

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_STATIC
#include <stb/stb_image_resize.h>

namespace snapmend {

bool ResampleCatmullRom(const unsigned char* src, int srcW, int srcH, int srcStride, unsigned char* dst, int dstW,
                        int dstH, int dstStride, int channels)
{
    const int alpha = channels == 4 ? 3 : STBIR_ALPHA_CHANNEL_NONE;
    return stbir_resize_uint8_generic(src, srcW, srcH, srcStride, dst, dstW, dstH, dstStride, channels, alpha, 0,
                                      STBIR_EDGE_CLAMP, STBIR_FILTER_CATMULLROM, STBIR_COLORSPACE_SRGB,
                                      nullptr) != 0;
}

}  // namespace snapmend
