// TIFF, both byte orders: the IFD chain (with EXIF/GPS/sub-IFDs) is followed
// and the file ends at the furthest byte any IFD, tag value, strip or tile uses.
// Camera raw files built on TIFF add JPEG previews and maker notes, whose own
// IFDs point at further data; a TIFF that is a camera's raw file is named so.
#include "formats/tiff.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/format.h"

namespace carver {
namespace {

constexpr size_t kMaxIfds = 64;
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxOffsets = 1u << 20;

struct Tiff {
    Source& src;
    uint64_t max_size;
    bool big_endian;
    TiffInfo& info;
    uint64_t end = 8;
    bool image = false;
    std::vector<uint32_t> pending;  // IFD offsets still to visit
    std::vector<uint32_t> visited;
    uint64_t value_budget = 2ull * kMaxOffsets;  // strip/tile values read by one walk

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
        if ((type != 3 && type != 4) || count > kMaxOffsets || count > value_budget) return false;
        value_budget -= count;
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

    void make(const uint8_t* p, uint32_t count) {
        char m[32] = {};
        uint32_t n = std::min<uint32_t>(count, sizeof m - 1);
        if (n <= 4) std::memcpy(m, p + 8, n);
        else if (!get(u32(p + 8), reinterpret_cast<uint8_t*>(m), n)) return;
        info.make.assign(m, strnlen(m, n));
    }

    // A maker note's own IFD (at `ifd_off`, offsets from `base`, in `be` order):
    // every value it points at, and preview images given as start/length tag
    // pairs, belong to the file. A note that is not a sane IFD is left alone.
    void maker_ifd(uint64_t ifd_off, uint64_t base, bool be, int depth) {
        uint8_t cnt[2];
        if (depth > 2 || !get(ifd_off, cnt, 2)) return;
        auto r16 = [&](const uint8_t* q) { return be ? rd_be16(q) : rd_le16(q); };
        auto r32 = [&](const uint8_t* q) { return be ? rd_be32(q) : rd_le32(q); };
        uint32_t n = r16(cnt);
        if (n == 0 || n > 512) return;
        std::vector<uint8_t> e(n * 12u);
        if (!get(ifd_off + 2, e.data(), e.size())) return;
        static const uint8_t kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        for (uint32_t i = 0; i < n; ++i) {
            uint16_t type = r16(&e[i * 12u + 2]);
            if (type == 0 || type > 13) return;
        }
        uint64_t far = ifd_off + 2 + e.size() + 4;
        uint64_t start[2] = {0, 0}, length[2] = {0, 0};  // Pentax 4/3; JPEG 0x201/0x202
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* q = &e[i * 12u];
            uint16_t tag = r16(q), type = r16(q + 2);
            uint32_t count = r32(q + 4), v = r32(q + 8);
            uint64_t bytes = static_cast<uint64_t>(kTypeSize[type]) * count;
            if (bytes > 4) far = std::max(far, base + v + bytes);
            if (tag == 0x0004 && count == 1) start[0] = base + v;
            if (tag == 0x0003 && count == 1) length[0] = v;
            if (tag == 0x0201 && count == 1) start[1] = base + v;
            if (tag == 0x0202 && count == 1) length[1] = v;
            if (tag == 0x0011 && count == 1 && (type == 4 || type == 13))  // Nikon preview IFD
                maker_ifd(base + v, base, be, depth + 1);
        }
        for (int k = 0; k < 2; ++k)
            if (start[k] && length[k]) far = std::max(far, start[k] + length[k]);
        extend(far);  // beyond max_size: the file is rejected
    }

    void maker_note(uint64_t mo, uint32_t size) {
        // Only a camera's own file: a TIFF converted from a camera JPEG keeps
        // a maker note whose offsets no longer mean anything.
        if (!camera_raw_ext(info)) return;
        uint8_t h[20] = {};
        if (size < 20 || !get(mo, h, 20)) return;
        if (std::memcmp(h, "Nikon\0", 6) == 0) {  // its own TIFF header after 10 bytes
            bool be = h[10] == 'M';
            uint32_t first = be ? rd_be32(h + 14) : rd_le32(h + 14);
            maker_ifd(mo + 10 + first, mo + 10, be, 0);
        } else if (std::memcmp(h, "OLYMPUS\0", 8) == 0) {
            maker_ifd(mo + 12, mo, h[8] == 'M', 0);
        } else if (std::memcmp(h, "AOC\0", 4) == 0) {
            maker_ifd(mo + 6, 0, h[4] == 'M', 0);
        } else if (std::memcmp(h, "SONY DSC ", 9) == 0 || std::memcmp(h, "Panasonic\0", 10) == 0) {
            maker_ifd(mo + 12, 0, big_endian, 0);
        } else if (info.make.compare(0, 5, "Canon") == 0) {
            maker_ifd(mo, 0, big_endian, 0);
        }
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
        uint32_t jpeg_off = 0, jpeg_len = 0;
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
            case 271:  // Make
                if (type == 2) make(p, count);
                break;
            case 513: jpeg_off = u32(p + 8); break;
            case 514: jpeg_len = u32(p + 8); break;
            case 37500:  // maker note
                if (bytes > 4) maker_note(u32(p + 8), static_cast<uint32_t>(bytes));
                break;
            case 50706: info.dng = true; break;
            case 256: have_width = true; break;
            case 257: have_height = true; break;
            case 273: case 324:  // strip / tile offsets
                if (!values(type, count, p + 8, offsets)) return false;
                break;
            case 279: case 325:  // strip / tile byte counts
                if (!values(type, count, p + 8, counts)) return false;
                break;
            case 330: case 34665: case 34853: case 40965: {  // sub-IFDs, EXIF, GPS, interop
                // More IFDs than a walk visits: rejected before reading them.
                std::vector<uint32_t> subs;
                if (type == 13) type = 4;
                if (count > kMaxIfds - std::min(kMaxIfds, pending.size() + visited.size()) ||
                    !values(type, count, p + 8, subs))
                    return false;
                pending.insert(pending.end(), subs.begin(), subs.end());
                break;
            }
            default: break;
            }
        }
        if (offsets.size() != counts.size()) return false;
        if (jpeg_off && jpeg_len) {  // JPEG thumbnail or preview
            if (static_cast<uint64_t>(jpeg_off) + jpeg_len > max_size) return false;
            extend(static_cast<uint64_t>(jpeg_off) + jpeg_len);
        }
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
    TiffInfo info;
    if (!tiff_walk(src, max_size, false, info)) return {};
    return {info.end, camera_raw_ext(info)};
}

}  // namespace

bool tiff_walk(Source& src, uint64_t max_size, bool camera_magic, TiffInfo& info) {
    uint8_t h[10];
    if (src.read(0, h, 10) != 10) return false;
    bool be = h[0] == 'M';
    if ((h[0] != 'I' && h[0] != 'M') || h[1] != h[0]) return false;
    info.magic = be ? rd_be16(h + 2) : rd_le16(h + 2);
    bool camera = info.magic == 0x4F52 || info.magic == 0x5352 || info.magic == 0x55;
    if (info.magic != 42 && !(camera_magic && camera)) return false;
    info.cr2 = h[8] == 'C' && h[9] == 'R';
    Tiff t{src, max_size, be, info, 8, false, {}, {}};
    t.pending.push_back(t.u32(h + 4));
    for (size_t i = 0; !t.pending.empty(); ++i) {
        if (i == kMaxIfds) return false;
        uint32_t off = t.pending.back();
        t.pending.pop_back();
        if (!t.ifd(off)) return false;
    }
    if (!t.image) return false;
    uint8_t last;
    if (t.end > max_size || src.read(t.end - 1, &last, 1) != 1) return false;
    info.end = t.end;
    info.image = true;
    return true;
}

const char* camera_raw_ext(const TiffInfo& info) {
    if (info.magic == 0x4F52 || info.magic == 0x5352) return "orf";
    if (info.magic == 0x55) return "rw2";
    if (info.dng) return "dng";
    if (info.cr2) return "cr2";
    auto made = [&](const char* m) { return info.make.compare(0, std::strlen(m), m) == 0; };
    if (made("NIKON")) return "nef";
    if (made("SONY")) return "arw";
    if (made("PENTAX") || made("RICOH")) return "pef";
    if (made("OLYMPUS") || made("OM Digital")) return "orf";
    if (made("Panasonic")) return "rw2";
    return nullptr;
}

const Format& tif_format() {
    static const Format f{"tif", {std::string_view("II*\0", 4), std::string_view("MM\0*", 4)},
                          nullptr, walk};
    return f;
}

}  // namespace carver
