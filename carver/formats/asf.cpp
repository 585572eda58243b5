// ASF (WMV/WMA): the header object with its file properties, then the data
// object and index objects. A non-broadcast file's length is the file
// properties' file size; the top-level objects must fill it exactly.
#include <cstring>

#include "core/format.h"

namespace carver {
namespace {

using Guid = uint8_t[16];
const Guid kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Guid kData = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                          0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
// Top-level objects that may follow the data object: simple index, index,
// media object index, timecode index.
const Guid kIndexes[] = {
    {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB},
    {0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE},
    {0xF8, 0x03, 0xB1, 0xFE, 0xAD, 0x12, 0x64, 0x4C, 0x84, 0x0F, 0x2A, 0x1D, 0x2F, 0x7A, 0xD4, 0x8C},
    {0xD0, 0x3F, 0xB7, 0x3C, 0x4A, 0x0C, 0x03, 0x48, 0x95, 0x3D, 0xED, 0xF7, 0xB6, 0x22, 0x8F, 0x0C},
};
constexpr uint32_t kMaxHeaderObjects = 1024;
constexpr uint64_t kObjectHeader = 24;  // GUID + 64-bit size

uint64_t rd_le64(const uint8_t* p) { return rd_le32(p) | static_cast<uint64_t>(rd_le32(p + 4)) << 32; }

bool check(const uint8_t* h, size_t n) {
    // Header object size, object count, reserved bytes 1 and 2.
    return n >= 30 && rd_le64(h + 16) >= 30 + kObjectHeader && rd_le32(h + 24) != 0 &&
           rd_le32(h + 24) <= kMaxHeaderObjects && h[28] == 1 && h[29] == 2;
}

struct Header {
    uint64_t file_size = 0;
    uint32_t packet_size = 0;  // fixed: minimum and maximum packet size agree
    bool broadcast = false;
    bool props = false;
    bool video = false;
};

bool read_header(Cursor& c, Header& hd) {
    uint8_t h[30];
    if (!c.bytes(h, 30) || !check(h, 30)) return false;
    uint64_t end = rd_le64(h + 16);
    uint32_t count = rd_le32(h + 24);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t o[kObjectHeader];
        uint64_t at = c.pos();
        if (end - at < kObjectHeader || !c.bytes(o, kObjectHeader)) return false;
        uint64_t size = rd_le64(o + 16);
        if (size < kObjectHeader || size > end - at) return false;
        if (std::memcmp(o, kFileProperties, 16) == 0) {
            uint8_t p[80];
            if (size < kObjectHeader + sizeof p || !c.bytes(p, sizeof p)) return false;
            hd.file_size = rd_le64(p + 16);
            hd.broadcast = p[64] & 1;
            if (rd_le32(p + 68) == rd_le32(p + 72)) hd.packet_size = rd_le32(p + 68);
            hd.props = true;
        } else if (std::memcmp(o, kStreamProperties, 16) == 0) {
            uint8_t type[16];
            if (size < kObjectHeader + 16 || !c.bytes(type, 16)) return false;
            if (std::memcmp(type, kVideoMedia, 16) == 0) hd.video = true;
        }
        if (!c.seek(at + size)) return false;
    }
    return c.pos() == end && hd.props;
}

bool is_index(const uint8_t* g) {
    for (const Guid& x : kIndexes)
        if (std::memcmp(g, x, 16) == 0) return true;
    return false;
}

Carve walk_asf(Source& src, uint64_t max_size, bool want_video) {
    Cursor c(src, max_size);
    Header hd;
    if (!read_header(c, hd) || hd.video != want_video) return {};
    uint8_t o[kObjectHeader];
    uint64_t at = c.pos();
    if (!c.bytes(o, kObjectHeader) || std::memcmp(o, kData, 16) != 0) return {};
    uint64_t dsize = rd_le64(o + 16);
    // Data object: GUID, size, file id, packet count, reserved 01 01.
    uint8_t d[26];
    if (dsize < 50 || dsize > max_size - at || !c.bytes(d, 26) || d[24] != 1 || d[25] != 1) return {};
    uint64_t end = at + dsize;
    // Fixed-size packets fill the data object and all open alike (their error
    // correction or length-type flags): a file cut and followed by other data
    // shows it here.
    uint64_t packets = rd_le64(d + 16);
    if (hd.packet_size && packets) {
        if (hd.packet_size < 32 || packets > dsize || dsize - 50 != packets * hd.packet_size)
            return {};
        uint8_t first = 0;
        for (uint64_t i = 0; i < packets; ++i) {
            uint8_t b;
            if (!c.seek(at + 50 + i * hd.packet_size) || !c.u8(b)) return {};
            if (i == 0) first = b;
            if (b != first) return {};
        }
    }
    if (!hd.broadcast) {
        if (hd.file_size < end || hd.file_size > max_size) return {};
    }
    // Index objects follow up to the declared size (a broadcast file: as far
    // as they go).
    while ((hd.broadcast || end < hd.file_size) && end < max_size) {
        if (!c.seek(end) || !c.bytes(o, kObjectHeader) || !is_index(o)) {
            if (hd.broadcast) break;
            return {};
        }
        uint64_t size = rd_le64(o + 16);
        if (size < kObjectHeader || size > max_size - end) return {};
        end += size;
    }
    if (!hd.broadcast && end != hd.file_size) return {};
    uint8_t last;
    if (end > max_size || !c.seek(end - 1) || !c.u8(last)) return {};
    return {end, nullptr};
}

Carve walk_wmv(Source& src, uint64_t max_size) { return walk_asf(src, max_size, true); }
Carve walk_other(Source& src, uint64_t max_size) { return walk_asf(src, max_size, false); }

const std::string_view kSig(reinterpret_cast<const char*>(kHeader), 16);

}  // namespace

// Files with a video stream are "wmv"; audio-only and other ASF files "asf".
const Format& wmv_format() {
    static const Format f{"wmv", {kSig}, check, walk_wmv};
    return f;
}

const Format& asf_format() {
    static const Format f{"asf", {kSig}, check, walk_other};
    return f;
}

}  // namespace carver
