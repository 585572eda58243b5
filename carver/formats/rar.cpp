// RAR 4 and RAR 5: the block walk (header CRCs checked) to the end-of-archive block.
#include <zlib.h>

#include <algorithm>
#include <vector>

#include "core/format.h"

namespace carver {
namespace {

constexpr uint32_t kMaxBlocks = 1u << 20;
constexpr uint64_t kMaxMainHeader = 64 * 1024;

uint32_t crc32_of(const uint8_t* p, size_t n) {
    return static_cast<uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), p, static_cast<uInt>(n)));
}

Carve walk4(Source& src, uint64_t max_size) {
    uint64_t pos = 7;  // after the marker block
    std::vector<uint8_t> h;
    bool main_seen = false;
    for (uint32_t n = 0; n < kMaxBlocks; ++n) {
        uint8_t b[7];
        if (pos + 7 > max_size || src.read(pos, b, 7) != 7) return {};
        uint8_t type = b[2];
        uint16_t flags = rd_le16(b + 3), size = rd_le16(b + 5);
        if (type < 0x73 || type > 0x7B || size < 7) return {};
        if (!main_seen && type != 0x73) return {};
        main_seen = true;
        if (pos + size > max_size) return {};
        h.resize(size);
        if (src.read(pos, h.data(), size) != size) return {};
        if ((crc32_of(h.data() + 2, size - 2) & 0xFFFF) != rd_le16(b)) return {};
        uint64_t data = 0;
        if (type == 0x74 || type == 0x7A) {  // file and service headers: packed size
            if (size < 32) return {};
            data = rd_le32(&h[7]);
            if (flags & 0x100) {
                if (size < 40) return {};
                data |= static_cast<uint64_t>(rd_le32(&h[32])) << 32;
            }
        } else if (flags & 0x8000) {
            if (size < 11) return {};
            data = rd_le32(&h[7]);
        }
        pos += size;
        if (type == 0x7B) return {pos, nullptr};
        if (data > max_size - pos) return {};
        pos += data;
    }
    return {};
}

// RAR 5 variable-length integer at p (at most 10 bytes of n); 0 = malformed.
size_t vint(const uint8_t* p, size_t n, uint64_t& v) {
    v = 0;
    for (size_t i = 0; i < n && i < 10; ++i) {
        v |= static_cast<uint64_t>(p[i] & 0x7F) << (7 * i);
        if (!(p[i] & 0x80)) return i + 1;
    }
    return 0;
}

Carve walk5(Source& src, uint64_t max_size) {
    uint64_t pos = 8;
    std::vector<uint8_t> h;
    for (uint32_t n = 0; n < kMaxBlocks; ++n) {
        uint8_t b[7];
        if (pos + 7 > max_size || src.read(pos, b, 7) != 7) return {};
        uint64_t hsize;
        size_t vl = vint(b + 4, 3, hsize);  // header sizes fit in 3 bytes (at most 2 MiB)
        if (vl == 0 || hsize == 0 || hsize > (2u << 20)) return {};
        // The main header first, and a small one: its type is checked before
        // a header's worth of bytes is read and summed.
        if (n == 0) {
            uint8_t t[16];
            uint64_t type;
            size_t got = src.read(pos + 4 + vl, t, static_cast<size_t>(std::min<uint64_t>(sizeof t, hsize)));
            if (hsize > kMaxMainHeader || vint(t, got, type) == 0 || type != 1) return {};
        }
        uint64_t total = vl + hsize;
        if (pos + 4 + total > max_size) return {};
        h.resize(static_cast<size_t>(total));
        if (src.read(pos + 4, h.data(), h.size()) != h.size()) return {};
        if (crc32_of(h.data(), h.size()) != rd_le32(b)) return {};
        const uint8_t* p = h.data() + vl;
        size_t left = static_cast<size_t>(hsize), k;
        uint64_t type, flags, extra = 0, data = 0;
        if (!(k = vint(p, left, type))) return {};
        p += k, left -= k;
        if (!(k = vint(p, left, flags))) return {};
        p += k, left -= k;
        if (flags & 1) {
            if (!(k = vint(p, left, extra))) return {};
            p += k, left -= k;
        }
        if (flags & 2) {
            if (!(k = vint(p, left, data))) return {};
        }
        if (type < 1 || type > 5 || extra > hsize) return {};
        if (n == 0 && type != 1) return {};  // the main header first (encrypted headers are not walked)
        pos += 4 + total;
        if (type == 5) return {pos, nullptr};
        if (data > max_size - pos) return {};
        pos += data;
    }
    return {};
}

Carve walk(Source& src, uint64_t max_size) {
    uint8_t sig[8];
    if (src.read(0, sig, 8) != 8) return {};
    return sig[6] == 0 ? walk4(src, max_size) : walk5(src, max_size);
}

}  // namespace

const Format& rar_format() {
    static const Format f{"rar",
                          {std::string_view("Rar!\x1A\x07\x00", 7), std::string_view("Rar!\x1A\x07\x01\x00", 8)},
                          nullptr, walk};
    return f;
}

}  // namespace carver
