// BMP: the file size is in the header; its fields must agree with each other.
#include "core/format.h"

namespace carver {
namespace {

constexpr size_t kFileHeader = 14;

// Returns the file size the header declares, or 0 when the header is inconsistent.
uint64_t header_size(const uint8_t* h, size_t n) {
    if (n < kFileHeader + 16) return 0;
    uint32_t file_size = rd_le32(h + 2);
    uint32_t data_off = rd_le32(h + 10);
    uint32_t dib = rd_le32(h + 14);
    if (rd_le16(h + 6) != 0 || rd_le16(h + 8) != 0) return 0;  // reserved
    if (dib != 12 && dib != 40 && dib != 52 && dib != 56 && dib != 64 && dib != 108 && dib != 124)
        return 0;
    if (n < kFileHeader + dib) return 0;
    int64_t width, height;
    uint32_t planes, bpp, compression = 0, image_size = 0;
    if (dib == 12) {
        width = rd_le16(h + 18);
        height = rd_le16(h + 20);
        planes = rd_le16(h + 22);
        bpp = rd_le16(h + 24);
    } else {
        width = static_cast<int32_t>(rd_le32(h + 18));
        height = static_cast<int32_t>(rd_le32(h + 22));
        planes = rd_le16(h + 26);
        bpp = rd_le16(h + 28);
        compression = rd_le32(h + 30);
        image_size = rd_le32(h + 34);
    }
    if (planes != 1 || width <= 0 || height == 0 || width > 1 << 20) return 0;
    if (height < 0) height = -height;
    if (height > 1 << 20) return 0;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return 0;
    if (compression > 6) return 0;
    if (data_off < kFileHeader + dib || data_off > file_size) return 0;
    uint64_t pixels;
    if (compression == 0 || compression == 3 || compression == 6) {  // uncompressed rows
        uint64_t row = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
        pixels = row * static_cast<uint64_t>(height);
        if (image_size != 0 && image_size != pixels) return 0;
    } else {
        if (image_size == 0) return 0;
        pixels = image_size;
    }
    // Writers may pad the end a little, never more than a row's worth of slack.
    uint64_t needed = data_off + pixels;
    if (file_size < needed || file_size > needed + 4096) return 0;
    return file_size;
}

bool check(const uint8_t* h, size_t n) { return header_size(h, n) != 0; }

Carve walk(Source& src, uint64_t max_size) {
    uint8_t h[kFileHeader + 124];
    size_t n = src.read(0, h, sizeof h);
    uint64_t size = header_size(h, n);
    if (size == 0 || size > max_size) return {};
    uint8_t last;
    if (src.read(size - 1, &last, 1) != 1) return {};  // truncated by the device end
    // Pixels say nothing about where the file really lies: sized by the header.
    return {size, nullptr, true};
}

}  // namespace

const Format& bmp_format() {
    static const Format f{"bmp", {"BM"}, check, walk};
    return f;
}

}  // namespace carver
