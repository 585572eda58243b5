// PNG: chunk walk from the signature to IEND, every chunk's CRC checked.
#include <array>

#include "core/format.h"
#include "fs/stitch.h"

namespace carver {
namespace {

// CRC-32 (reflected, 0xEDB88320), eight bytes per step ("slice-by-8").
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

const CrcTables& crc_tables() {
    static const CrcTables t = [] {
        CrcTables r{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            r[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n)
            for (size_t k = 1; k < 8; ++k) r[k][n] = (r[k - 1][n] >> 8) ^ r[0][r[k - 1][n] & 0xFF];
        return r;
    }();
    return t;
}

uint32_t crc_update(uint32_t crc, const uint8_t* p, size_t n) {
    const auto& t = crc_tables();
    for (; n >= 8; n -= 8, p += 8) {
        uint32_t lo = crc ^ rd_le32(p);
        uint32_t hi = rd_le32(p + 4);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; n > 0; --n, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

bool is_letter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

bool check(const uint8_t* h, size_t n) {
    // IHDR must come first, with 13 data bytes.
    return n >= 16 && rd_be32(h + 8) == 13 && h[12] == 'I' && h[13] == 'H' && h[14] == 'D' &&
           h[15] == 'R';
}

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    if (!c.skip(8)) return {};
    bool first = true;
    for (;;) {
        uint32_t len;
        uint8_t type[4];
        if (!c.be32(len) || len > 0x7FFFFFFFu || !c.bytes(type, 4)) return {};
        for (uint8_t b : type)
            if (!is_letter(b)) return {};
        bool ihdr = type[0] == 'I' && type[1] == 'H' && type[2] == 'D' && type[3] == 'R';
        if (first != ihdr || (ihdr && len != 13)) return {};
        first = false;
        uint32_t crc = crc_update(0xFFFFFFFFu, type, 4);
        if (!c.consume(len, [&](const uint8_t* p, size_t k) { crc = crc_update(crc, p, k); }))
            return {};
        uint32_t stored;
        if (!c.be32(stored) || stored != (crc ^ 0xFFFFFFFFu)) return {};
        if (type[0] == 'I' && type[1] == 'E' && type[2] == 'N' && type[3] == 'D')
            return {c.pos(), nullptr};
    }
}

}  // namespace

const Format& png_format() {
    static const Format f{"png", {std::string_view("\x89PNG\r\n\x1A\n", 8)}, check, walk, &fs::kPngStitcher};
    return f;
}

}  // namespace carver
