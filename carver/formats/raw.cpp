// Camera raw photos ("Other raw files"): TIFF-based CR2, NEF, ARW, DNG, ORF,
// RW2 and PEF through the shared TIFF walk (IFDs, previews, maker notes),
// only when the walk recognises a camera's file; Fujifilm RAF, whose header
// gives the preview, CFA header and CFA data extents; and Canon CRW (CIFF),
// whose root heap ends with its record table and the table's offset.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/format.h"
#include "formats/tiff.h"

namespace carver {
namespace {

const char kRaf[] = "FUJIFILMCCD-RAW ";
const char kCrw[] = "II\x1A\0\0\0HEAPCCDR";

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

// CIFF: the root heap runs from the header to the end of the file, which
// holds the offset of the heap's table: a record count, 10-byte records
// (type, size, offset), then that offset. The walk looks for the first
// position where such a table ends the heap, every record in the heap
// lying before the table.
Carve walk_crw(Source& src, uint64_t max_size) {
    uint8_t h[14];
    if (src.read(0, h, sizeof h) != sizeof h) return {};
    uint32_t hlen = rd_le32(h + 2);
    if (hlen < 14 || hlen > 512) return {};
    constexpr size_t kMaxChunk = 65536, kMaxTable = 2 + 10 * 255 + 4;
    std::vector<uint8_t> buf(kMaxChunk + kMaxTable);
    size_t chunk = 512;  // grows: a heap that is junk ends at the next sector's header
    for (uint64_t base = hlen; base < max_size; base += chunk, chunk = std::min(kMaxChunk, chunk * 2)) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk + kMaxTable, max_size - base));
        size_t got = src.read(base, buf.data(), want);
        size_t scan = std::min(got, chunk);
        for (size_t i = 0; i < scan; ++i) {
            // Another CRW opening at a sector start: no table before it ends
            // this heap, and its own walk takes over from there.
            if ((base + i) % 512 == 0 && base + i > 0 && i + sizeof kCrw - 1 <= got &&
                std::memcmp(&buf[i], kCrw, sizeof kCrw - 1) == 0)
                return {};
            uint16_t n = rd_le16(&buf[i]);
            if (n == 0 || n > 255 || i + 2 + 10u * n + 4 > got) continue;
            uint64_t table = base + i - hlen;  // offset within the heap
            if (rd_le32(&buf[i + 2 + 10u * n]) != table) continue;
            bool ok = true, data = false;
            for (uint16_t r = 0; r < n && ok; ++r) {
                const uint8_t* rec = &buf[i + 2 + 10u * r];
                uint16_t type = rd_le16(rec);
                uint32_t size = rd_le32(rec + 2), off = rd_le32(rec + 6);
                if ((type & 0xC000) == 0x4000) continue;  // value stored in the record
                if ((type & 0xC000) != 0 || static_cast<uint64_t>(off) + size > table) ok = false;
                data |= size > 0;
            }
            if (!ok || !data) continue;
            return {base + i + 2 + 10u * n + 4, "crw"};
        }
        if (got < want || got <= chunk) return {};
    }
    return {};
}

Carve walk(Source& src, uint64_t max_size) {
    uint8_t h[16];
    if (src.read(0, h, 16) != 16) return {};
    if (std::memcmp(h, kRaf, 16) == 0) return walk_raf(src, max_size);
    if (std::memcmp(h + 6, "HEAPCCDR", 8) == 0) return walk_crw(src, max_size);
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
                           std::string_view("IIU\0", 4), kRaf, std::string_view(kCrw, sizeof kCrw - 1)},
                          nullptr, walk};
    return f;
}

}  // namespace carver
