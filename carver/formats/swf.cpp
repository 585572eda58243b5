// SWF: FWS (tag walk to the End tag at the declared length), CWS (zlib body
// inflated to the declared length) and ZWS (LZMA body of the stored size).
#include <zlib.h>

#include <algorithm>

#include "core/format.h"

namespace carver {
namespace {

constexpr uint64_t kMaxRatio = 16, kRatioSlack = 16 * 1024;

bool check(const uint8_t* h, size_t n) {
    return n >= 8 && h[3] >= 1 && h[3] <= 50 && rd_le32(h + 4) >= 21;
}

Carve walk_fws(Source& src, uint64_t len) {
    Cursor c(src, len);
    uint8_t nbits;
    if (!c.skip(8) || !c.peek(nbits)) return {};
    uint32_t bits = 5 + 4u * (nbits >> 3);
    if (!c.skip((bits + 7) / 8 + 4)) return {};  // frame size, frame rate and count
    for (;;) {
        uint16_t code_len;
        if (!c.le16(code_len)) return {};
        uint32_t tag_len = code_len & 0x3F;
        if (tag_len == 0x3F && !c.le32(tag_len)) return {};
        if ((code_len >> 6) == 0) {
            if (c.pos() != len) return {};
            uint8_t last;
            return src.read(len - 1, &last, 1) == 1 ? Carve{len, nullptr} : Carve{};
        }
        if (!c.skip(tag_len)) return {};
    }
}

Carve walk_cws(Source& src, uint64_t len, uint64_t max_size) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return {};
    struct End { z_stream& z; ~End() { inflateEnd(&z); } } end{z};
    Cursor c(src, max_size, 8);
    uint8_t out[16384];
    uint64_t produced = 0;
    int rc = Z_OK;
    size_t chunk = 512;  // grows: junk after a signature fails within its first bytes
    while (rc == Z_OK) {
        uint8_t in[16384];
        size_t avail = 0;
        while (avail < chunk && c.u8(in[avail])) ++avail;  // Cursor buffers; byte reads are cheap
        if (avail == 0) return {};
        chunk = std::min(sizeof in, chunk * 2);
        z.next_in = in;
        z.avail_in = static_cast<uInt>(avail);
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END) return {};
            produced += sizeof out - z.avail_out;
            if (produced + 8 > len) return {};
            // Work in proportion to the bytes the file may claim: a stream
            // that inflates far beyond what real movies do is not one.
            if (produced > kMaxRatio * (c.pos() - 8) + kRatioSlack) return {};
        } while (rc == Z_OK && z.avail_in > 0);
        if (rc == Z_STREAM_END) {
            uint64_t end_pos = c.pos() - z.avail_in;
            if (produced + 8 != len) return {};
            return {end_pos, nullptr};
        }
    }
    return {};
}

Carve walk(Source& src, uint64_t max_size) {
    uint8_t h[17];
    if (src.read(0, h, 17) != 17 || !check(h, 17)) return {};
    uint64_t len = rd_le32(h + 4);
    if (h[0] == 'F') return len <= max_size ? walk_fws(src, len) : Carve{};
    if (h[0] == 'C') {
        bool zlib_header = (h[8] & 0x0F) == 8 && (h[8] >> 4) <= 7 && (h[8] * 256 + h[9]) % 31 == 0;
        return zlib_header ? walk_cws(src, len, max_size) : Carve{};
    }
    // ZWS: compressed size, then the LZMA properties (lc/lp/pb byte, dictionary size).
    uint64_t end = 17ull + rd_le32(h + 8);
    uint32_t dict = rd_le32(h + 13);
    if (h[12] >= 9 * 5 * 5 || dict < 4096 || dict > (1u << 30) || rd_le32(h + 8) < 5 || end > max_size) return {};
    // The stored size alone: the scan still looks inside its range.
    uint8_t last;
    return src.read(end - 1, &last, 1) == 1 ? Carve{end, nullptr, true} : Carve{};
}

}  // namespace

const Format& swf_format() {
    static const Format f{"swf", {"FWS", "CWS", "ZWS"}, check, walk};
    return f;
}

}  // namespace carver
