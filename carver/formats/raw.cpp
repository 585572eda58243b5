// Camera raw photos ("Other raw files"): TIFF-based CR2, NEF, ARW, DNG, ORF,
// RW2 and PEF through the shared TIFF walk (IFDs, previews, maker notes),
// only when the walk recognises a camera's file; and Fujifilm RAF, whose
// header gives the preview, CFA header and CFA data extents.
#include <algorithm>
#include <cstring>

#include "core/format.h"
#include "formats/tiff.h"

namespace carver {
namespace {

const char kRaf[] = "FUJIFILMCCD-RAW ";

Carve walk_raf(Source& src, uint64_t max_size) {
    uint8_t h[108];
    if (src.read(0, h, sizeof h) != sizeof h) return {};
    for (int i = 16; i < 20; ++i)
        if (h[i] < '0' || h[i] > '9') return {};  // format version, e.g. "0201"
    uint64_t end = 0;
    for (int k = 0; k < 3; ++k) {
        uint64_t off = rd_be32(h + 84 + 8 * k), len = rd_be32(h + 88 + 8 * k);
        if (off < sizeof h || len == 0) return {};
        end = std::max(end, off + len);
    }
    uint8_t soi[2];
    if (end > max_size || src.read(rd_be32(h + 84), soi, 2) != 2 || soi[0] != 0xFF || soi[1] != 0xD8) return {};
    uint8_t last;
    if (src.read(end - 1, &last, 1) != 1) return {};
    return {end, "raf"};
}

Carve walk(Source& src, uint64_t max_size) {
    uint8_t h[16];
    if (src.read(0, h, 16) != 16) return {};
    if (std::memcmp(h, kRaf, 16) == 0) return walk_raf(src, max_size);
    TiffInfo info;
    if (!tiff_walk(src, max_size, true, info)) return {};
    const char* ext = camera_raw_ext(info);
    if (!ext) return {};  // a plain TIFF is the tif key's
    return {info.end, ext};
}

}  // namespace

const Format& raw_format() {
    static const Format f{"raw",
                          {std::string_view("II*\0", 4), std::string_view("MM\0*", 4), "IIRO", "IIRS",
                           std::string_view("IIU\0", 4), kRaf},
                          nullptr, walk};
    return f;
}

}  // namespace carver
