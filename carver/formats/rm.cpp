// RealMedia: the .RMF header chunk, then PROP, MDPR, CONT, DATA, INDX and
// metadata chunks (id, 32-bit big-endian size, 16-bit version) in sequence.
#include <cstring>

#include "core/format.h"

namespace carver {
namespace {

bool known(const uint8_t* id) {
    static const char* const kIds[] = {"PROP", "MDPR", "CONT", "DATA", "INDX", "RMMD", "RJMD"};
    for (const char* k : kIds)
        if (std::memcmp(id, k, 4) == 0) return true;
    return false;
}

bool check(const uint8_t* h, size_t n) {
    if (n < 18) return false;
    uint32_t size = rd_be32(h + 4);
    uint16_t version = rd_be16(h + 8);
    return size >= 16 && size <= 64 && version <= 1;
}

// Walks the DATA chunk at `pos` (header: id, size, version, packet count,
// next data header) packet by packet; returns the end of its last packet, 0
// if the packets do not fit in `size`.
uint64_t data_packets(Cursor& c, uint64_t pos, uint64_t size) {
    uint8_t h[8];
    if (size < 18 || !c.bytes(h, 8)) return 0;
    uint32_t count = rd_be32(h);
    uint64_t at = pos + 18, end = pos + size;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t p[4];
        if (end - at < 12 || !c.seek(at) || !c.bytes(p, 4)) return 0;
        uint16_t version = rd_be16(p), len = rd_be16(p + 2);
        if (version > 1 || len < 12 || len > end - at) return 0;
        at += len;
    }
    // Some writers close the chunk with 8 zero bytes that its size counts.
    uint8_t z[8];
    if (end - at >= 8 && c.seek(at) && c.bytes(z, 8) && !std::memcmp(z, "\0\0\0\0\0\0\0\0", 8))
        at += 8;
    return at;
}

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint8_t h[18];
    if (!c.bytes(h, 18) || !check(h, 18)) return {};
    uint32_t headers = rd_be32(h + 14);
    uint64_t pos = rd_be32(h + 4);
    bool prop = false, data = false;
    uint32_t chunks = 0;
    for (;;) {
        uint8_t k[10];
        if (pos + 10 > max_size || !c.seek(pos) || !c.bytes(k, 10) || !known(k)) break;
        uint64_t size = rd_be32(k + 4);
        bool is_data = !std::memcmp(k, "DATA", 4);
        if (size < 10 || rd_be16(k + 8) > 2) break;
        if (size > max_size - pos) {
            if (!is_data) break;
            size = max_size - pos;  // the packet walk decides
        }
        if (!std::memcmp(k, "PROP", 4)) prop = true;
        if (is_data) {
            // The packets end the chunk: some writers overstate its size.
            uint64_t end = data_packets(c, pos, size);
            if (end == 0) return {};
            data = true;
            size = end - pos;
        }
        uint8_t last;
        if (!c.seek(pos + size - 1) || !c.u8(last)) break;
        pos += size;
        ++chunks;
    }
    // The header counts the chunks, itself included by some writers (others leave 0).
    if (!prop || !data || (headers != 0 && chunks + 1 < headers)) return {};
    return {pos, nullptr};
}

}  // namespace

const Format& rm_format() {
    static const Format f{"rm", {".RMF"}, check, walk};
    return f;
}

}  // namespace carver
