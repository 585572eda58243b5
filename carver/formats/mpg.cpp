// MPEG-1/MPEG-2 program streams: pack headers, system headers and PES packets
// in sequence up to the program end code 00 00 01 B9, or (many writers omit
// it) to the end of the last whole pack when the structure stops.
#include "core/format.h"

namespace carver {
namespace {

constexpr uint32_t kMaxStuffing = 7;
constexpr uint64_t kVcdSector = 2324;  // Video CD (Mode 2 Form 2) payload: one pack each
constexpr uint64_t kMinPacks = 2;  // without an end code

// A pack header after its 00 00 01 BA: MPEG-2 ('01' marker, 10 more bytes
// plus stuffing) or MPEG-1 ('0010' marker, 8 more bytes). Marker bits checked.
// `scr` receives the system clock reference (33 bits, 90 kHz).
bool pack_body(Cursor& c, uint64_t& scr) {
    uint8_t b[10];
    if (!c.bytes(b, 1)) return false;
    if ((b[0] & 0xC0) == 0x40) {
        if (!c.bytes(b + 1, 9)) return false;
        scr = static_cast<uint64_t>((b[0] >> 3) & 7) << 30 | static_cast<uint64_t>(b[0] & 3) << 28 |
              static_cast<uint64_t>(b[1]) << 20 | static_cast<uint64_t>(b[2] >> 3) << 15 |
              static_cast<uint64_t>(b[2] & 3) << 13 | static_cast<uint64_t>(b[3]) << 5 | (b[4] >> 3);
        if (!(b[0] & 0x04) || !(b[2] & 0x04) || !(b[4] & 0x04) || !(b[5] & 0x01) ||
            (b[8] & 0x03) != 0x03)
            return false;
        uint32_t stuffing = b[9] & 0x07;
        if (stuffing > kMaxStuffing) return false;
        for (uint32_t i = 0; i < stuffing; ++i) {
            uint8_t s;
            if (!c.u8(s) || s != 0xFF) return false;
        }
        return true;
    }
    if ((b[0] & 0xF0) == 0x20) {
        if (!c.bytes(b + 1, 7)) return false;
        scr = static_cast<uint64_t>((b[0] >> 1) & 7) << 30 | static_cast<uint64_t>(b[1]) << 22 |
              static_cast<uint64_t>(b[2] >> 1) << 15 | static_cast<uint64_t>(b[3]) << 7 | (b[4] >> 1);
        return (b[0] & 0x01) && (b[2] & 0x01) && (b[4] & 0x01) && (b[5] & 0x80) && (b[7] & 0x01);
    }
    return false;
}

// Video CD writers fill a pack's sector up with zeros: true (and the cursor
// at `sector_end`) when zeros run from `at` to there.
bool vcd_padding(Cursor& c, uint64_t at, uint64_t sector_end) {
    if (at >= sector_end || !c.seek(at)) return false;
    bool zero = true;
    bool whole = c.consume(sector_end - at, [&](const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n && zero; ++i) zero = p[i] == 0;
    });
    if (whole && zero) return true;
    c.seek(at);
    return false;
}

bool check(const uint8_t* h, size_t n) {
    if (n < 14) return false;
    uint8_t m = h[4];
    return (m & 0xC0) == 0x40 || (m & 0xF0) == 0x20;
}

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint64_t packs = 0, packets = 0;
    uint64_t pack_start = 0, last_scr = 0;
    bool on_vcd_grid = true;  // every pack so far opens a 2324-byte sector
    // Without an end code: up to where the structure stops, or back to the
    // start of a pack cut short.
    auto stop = [&](uint64_t end) -> Carve {
        if (packs < kMinPacks || packets == 0 || end == 0) return {};
        return {end, nullptr};
    };
    for (;;) {
        uint64_t at = c.pos();
        uint8_t sc[4];
        if (!c.bytes(sc, 4)) return stop(at);
        if (sc[0] != 0 || sc[1] != 0 || sc[2] != 1) {
            if (packs && on_vcd_grid && vcd_padding(c, at, pack_start + kVcdSector)) continue;
            return stop(at);
        }
        uint8_t id = sc[3];
        if (id == 0xB9) {  // program end code
            if (packets == 0) return {};
            return {c.pos(), nullptr};
        }
        if (id == 0xBA) {
            pack_start = at;
            on_vcd_grid = on_vcd_grid && at % kVcdSector == 0;
            uint64_t scr = 0;
            if (!pack_body(c, scr)) return packs ? stop(at) : Carve{};
            // The clock restarting means another stream starts here.
            if (packs && scr < last_scr) return stop(at);
            last_scr = scr;
            ++packs;
            continue;
        }
        if (packs == 0) return {};
        if (id < 0xBB) return stop(at);  // only the system header and stream ids
        uint16_t len;
        uint8_t last;
        if (!c.be16(len) || !c.skip(len) || (len && (!c.seek(c.pos() - 1) || !c.u8(last))))
            return stop(pack_start);
        if (id != 0xBB && id != 0xBE) ++packets;  // padding carries no data
    }
}

}  // namespace

const Format& mpg_format() {
    static const Format f{"mpg", {std::string_view("\0\0\1\xBA", 4)}, check, walk};
    return f;
}

}  // namespace carver
