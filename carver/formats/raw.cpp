// Camera raw photos ("Other raw files"): TIFF-based CR2, NEF, ARW, DNG, ORF,
// RW2 and PEF through the shared TIFF walk (IFDs, previews, maker notes),
// only when the walk recognises a camera's file; Fujifilm RAF, whose header
// gives the preview, CFA header and CFA data extents; and Canon CRW (CIFF),
// whose root heap ends with its record table and the table's offset.
#include <algorithm>
#include <cstring>
#include <memory>
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

// A record table at buf[i] (count, records, the table's own offset `table`
// within the heap) whose records all lie before it: its end within buf, or 0.
size_t table_end(const uint8_t* buf, size_t got, size_t i, uint64_t table) {
    uint16_t n = rd_le16(&buf[i]);
    if (n == 0 || n > 255 || i + 2 + 10u * n + 4 > got) return 0;
    if (rd_le32(&buf[i + 2 + 10u * n]) != table) return 0;
    bool data = false;
    for (uint16_t r = 0; r < n; ++r) {
        const uint8_t* rec = &buf[i + 2 + 10u * r];
        uint16_t type = rd_le16(rec);
        uint32_t size = rd_le32(rec + 2), off = rd_le32(rec + 6);
        if ((type & 0xC000) == 0x4000) continue;  // value stored in the record
        if ((type & 0xC000) != 0 || static_cast<uint64_t>(off) + size > table) return 0;
        data |= size > 0;
    }
    return data ? i + 2 + 10u * n + 4 : 0;
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
    std::unique_ptr<uint8_t[]> buf(new uint8_t[kMaxChunk + kMaxTable]);  // read before use: no zeroing
    size_t chunk = 512;  // grows: a heap that is junk ends at the next sector's header
    for (uint64_t base = hlen; base < max_size; base += chunk, chunk = std::min(kMaxChunk, chunk * 2)) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk + kMaxTable, max_size - base));
        size_t got = src.read(base, buf.get(), want);
        size_t scan = std::min(got, chunk);
        for (size_t seg = 0; seg < scan;) {
            // Another CRW opening at a sector start: no table before it ends
            // this heap, and its own walk takes over from there.
            uint64_t at = base + seg;
            if (at % 512 == 0 && seg + sizeof kCrw - 1 <= got &&
                std::memcmp(&buf[seg], kCrw, sizeof kCrw - 1) == 0)
                return {};
            size_t seg_end = std::min<size_t>(scan, seg + (512 - at % 512));
            // A table opens with a count of 1 to 255: its high byte is zero,
            // which random data rarely has, so the search goes by zero bytes.
            size_t zend = std::min(seg_end + 1, got);
            for (size_t z = seg + 1; z < zend;) {
                auto* hit = static_cast<const uint8_t*>(std::memchr(&buf[z], 0, zend - z));
                if (!hit) break;
                z = static_cast<size_t>(hit - buf.get()) + 1;
                size_t i = z - 2;
                if (buf[i] == 0) continue;
                if (size_t end = table_end(buf.get(), got, i, base + i - hlen)) return {base + end, "crw"};
            }
            seg = seg_end;
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
