// TIFF, both byte orders: the IFD chain (with EXIF/GPS/sub-IFDs) is followed
// and the file ends at the furthest byte any IFD, tag value, strip or tile uses.
#include <algorithm>
#include <vector>

#include "core/format.h"

namespace carver {
namespace {

constexpr int kMaxIfds = 64;
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxOffsets = 1u << 20;

struct Tiff {
    Source& src;
    uint64_t max_size;
    bool big_endian;
    uint64_t end = 8;
    bool image = false;
    std::vector<uint32_t> pending;  // IFD offsets still to visit
    std::vector<uint32_t> visited;

    bool get(uint64_t off, uint8_t* out, size_t n) {
        if (off + n > max_size) return false;
        return src.read(off, out, n) == n;
    }
    uint16_t u16(const uint8_t* p) const { return big_endian ? rd_be16(p) : rd_le16(p); }
    uint32_t u32(const uint8_t* p) const { return big_endian ? rd_be32(p) : rd_le32(p); }
    void extend(uint64_t e) { end = std::max(end, e); }

    // Reads `count` SHORT or LONG values stored at `off` (or inline in `inl`).
    bool values(uint16_t type, uint32_t count, const uint8_t* inl, std::vector<uint32_t>& out) {
        size_t width = type == 3 ? 2 : 4;
        if ((type != 3 && type != 4) || count > kMaxOffsets) return false;
        std::vector<uint8_t> raw(width * count);
        if (raw.size() <= 4) {
            std::copy(inl, inl + raw.size(), raw.begin());
        } else if (!get(u32(inl), raw.data(), raw.size())) {
            return false;
        }
        out.resize(count);
        for (uint32_t i = 0; i < count; ++i)
            out[i] = width == 2 ? u16(&raw[i * 2]) : u32(&raw[i * 4]);
        return true;
    }

    bool ifd(uint32_t off) {
        if (off < 8 || (off & 1) || std::count(visited.begin(), visited.end(), off)) return false;
        visited.push_back(off);
        uint8_t cnt[2];
        if (!get(off, cnt, 2)) return false;
        uint32_t n = u16(cnt);
        if (n == 0 || n > kMaxEntries) return false;
        std::vector<uint8_t> e(n * 12u + 4);
        if (!get(off + 2ull, e.data(), e.size())) return false;
        extend(off + 2ull + e.size());
        static const uint8_t kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        std::vector<uint32_t> offsets, counts;
        bool have_width = false, have_height = false;
        uint16_t prev_tag = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* p = &e[i * 12u];
            uint16_t tag = u16(p), type = u16(p + 2);
            uint32_t count = u32(p + 4);
            if (tag < prev_tag) return false;  // entries are sorted by tag
            prev_tag = tag;
            if (type == 0 || type > 13) return false;
            uint64_t bytes = static_cast<uint64_t>(kTypeSize[type]) * count;
            if (bytes > 4) {
                uint64_t vo = u32(p + 8);
                if (vo < 8 || vo + bytes > max_size) return false;
                extend(vo + bytes);
            }
            switch (tag) {
            case 256: have_width = true; break;
            case 257: have_height = true; break;
            case 273: case 324:  // strip / tile offsets
                if (!values(type, count, p + 8, offsets)) return false;
                break;
            case 279: case 325:  // strip / tile byte counts
                if (!values(type, count, p + 8, counts)) return false;
                break;
            case 330: case 34665: case 34853: case 40965: {  // sub-IFDs, EXIF, GPS, interop
                std::vector<uint32_t> subs;
                if (type == 13) type = 4;
                if (!values(type, count, p + 8, subs)) return false;
                pending.insert(pending.end(), subs.begin(), subs.end());
                break;
            }
            default: break;
            }
        }
        if (offsets.size() != counts.size()) return false;
        for (size_t i = 0; i < offsets.size(); ++i) {
            uint64_t e_end = static_cast<uint64_t>(offsets[i]) + counts[i];
            if (e_end > max_size) return false;
            extend(e_end);
        }
        if (!offsets.empty() && have_width && have_height) image = true;
        uint32_t next = u32(&e[n * 12u]);
        if (next) pending.push_back(next);
        return true;
    }
};

Carve walk(Source& src, uint64_t max_size) {
    uint8_t h[8];
    if (src.read(0, h, 8) != 8) return {};
    Tiff t{src, max_size, h[0] == 'M', 8, false, {}, {}};
    t.pending.push_back(t.u32(h + 4));
    for (int i = 0; !t.pending.empty(); ++i) {
        if (i == kMaxIfds) return {};
        uint32_t off = t.pending.back();
        t.pending.pop_back();
        if (!t.ifd(off)) return {};
    }
    if (!t.image) return {};
    uint8_t last;
    if (t.end > max_size || src.read(t.end - 1, &last, 1) != 1) return {};
    return {t.end, nullptr};
}

}  // namespace

const Format& tif_format() {
    static const Format f{"tif", {std::string_view("II*\0", 4), std::string_view("MM\0*", 4)},
                          nullptr, walk};
    return f;
}

}  // namespace carver
