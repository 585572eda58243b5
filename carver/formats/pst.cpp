// Personal folders files: the ANSI or Unicode header's root structure gives
// the end of the file; the allocation map position and flags must agree, and
// the first and last allocation map pages must carry their page trailers.
#include "core/format.h"

namespace carver {
namespace {

constexpr uint64_t kFirstAMap = 0x4400, kAMapStep = 0x3E000;

bool check(const uint8_t* h, size_t n) {
    if (n < 512 || h[8] != 'S' || h[9] != 'M') return false;
    uint16_t ver = rd_le16(h + 10);
    return ver == 14 || ver == 15 || ver >= 23;
}

uint64_t le64(const uint8_t* p) { return rd_le32(p) | static_cast<uint64_t>(rd_le32(p + 4)) << 32; }

Carve walk(Source& src, uint64_t max_size) {
    uint8_t h[512];
    if (src.read(0, h, 512) != 512 || !check(h, 512)) return {};
    bool unicode = rd_le16(h + 10) >= 23;
    uint64_t eof, amap_last;
    uint8_t amap_valid;
    if (unicode) {
        eof = le64(h + 0xB8);
        amap_last = le64(h + 0xC0);
        amap_valid = h[0xF8];
    } else {
        eof = rd_le32(h + 0xA8);
        amap_last = rd_le32(h + 0xAC);
        amap_valid = h[0xC8];
    }
    if (amap_valid > 2 || eof < kFirstAMap + 512 || eof > max_size || amap_last < kFirstAMap ||
        amap_last >= eof || (amap_last - kFirstAMap) % kAMapStep != 0)
        return {};
    // Page trailer: type and repeated type 0x84 (allocation map), signature 0.
    size_t trailer = unicode ? 496 : 500;
    for (uint64_t page : {kFirstAMap, amap_last}) {
        uint8_t t[4];
        if (src.read(page + trailer, t, 4) != 4 || t[0] != 0x84 || t[1] != 0x84 || t[2] != 0 || t[3] != 0) return {};
    }
    uint8_t last;
    if (src.read(eof - 1, &last, 1) != 1) return {};
    // The header's end and two map pages: the pages between are not walked.
    return {eof, nullptr, true};
}

}  // namespace

const Format& pst_format() {
    static const Format f{"pst", {"!BDN"}, check, walk};
    return f;
}

}  // namespace carver
