// JPEG (JFIF, EXIF; baseline and progressive): marker walk from SOI to EOI.
// Segments are skipped by their length, so an EXIF thumbnail inside APP1 is
// never mistaken for the end; entropy-coded data is scanned for markers.
#include "core/format.h"
#include "fs/stitch.h"

namespace carver {
namespace {

bool is_sof(uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }
bool is_rst(uint8_t m) { return m >= 0xD0 && m <= 0xD7; }

bool check(const uint8_t* h, size_t n) {
    if (n < 4) return false;
    uint8_t m = h[3];
    // The first segment after SOI: APPn, DQT, DHT, SOFn, COM, DRI.
    return (m >= 0xE0 && m <= 0xEF) || m == 0xDB || m == 0xC4 || m == 0xFE || m == 0xDD ||
           is_sof(m);
}

// Skips entropy-coded data up to the next marker that is not a stuffed 0xFF00
// or a restart marker; leaves the cursor on that marker's 0xFF.
bool skip_entropy(Cursor& c) {
    for (;;) {
        if (!c.find(0xFF)) return false;
        uint8_t m;
        if (!c.skip(1)) return false;
        do {
            if (!c.u8(m)) return false;
        } while (m == 0xFF);
        if (m != 0x00 && !is_rst(m)) return c.seek(c.pos() - 2);
    }
}

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint16_t soi;
    if (!c.be16(soi) || soi != 0xFFD8) return {};
    bool frame = false, scan = false;
    for (;;) {
        uint8_t b, m;
        if (!c.u8(b) || b != 0xFF) return {};
        do {
            if (!c.u8(m)) return {};
        } while (m == 0xFF);
        if (m == 0xD9) {
            if (!frame || !scan) return {};
            return {c.pos(), nullptr};
        }
        if (m == 0x01 || is_rst(m)) continue;  // standalone markers
        if (m < 0xC0 || m == 0xD8) return {};
        uint16_t len;
        if (!c.be16(len) || len < 2) return {};
        if (is_sof(m)) {
            if (len < 8) return {};
            frame = true;
        }
        if (m == 0xDA) {
            if (!frame || len < 6) return {};
            scan = true;
            if (!c.skip(len - 2u) || !skip_entropy(c)) return {};
            continue;
        }
        if (!c.skip(len - 2u)) return {};
    }
}

}  // namespace

const Format& jpg_format() {
    static const Format f{"jpg", {std::string_view("\xFF\xD8\xFF", 3)}, check, walk, &fs::kJpegStitcher};
    return f;
}

}  // namespace carver
