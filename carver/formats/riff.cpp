// RIFF forms: AVI (with OpenDML "AVIX" continuation lists), WAVE, WebP and
// the CDXA wrapper of Video CD ".dat" files. The RIFF size gives the end; the
// chunks inside are walked to check that they fill it exactly.
#include <cstring>

#include "core/format.h"
#include "fs/stitch.h"

namespace carver {
namespace {

constexpr uint32_t kCdSector = 2352;

bool fourcc_ok(const uint8_t* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E) return false;
    return true;
}

bool form_is(const uint8_t* h, size_t n, const char* form) {
    return n >= 12 && std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, form, 4) == 0 &&
           rd_le32(h + 4) >= 4;
}

struct Chunks {
    bool fmt = false;       // "fmt " (WAVE, CDXA)
    bool data = false;      // "data" (WAVE, CDXA)
    bool hdrl = false;      // LIST hdrl (AVI)
    bool movi = false;      // LIST movi (AVI, AVIX)
    bool vp8 = false;       // VP8 / VP8L / VP8X first (WebP)
    uint64_t data_off = 0, data_size = 0;
};

// Walks the chunks of one RIFF list from `off` to `end`; the last chunk may
// omit its pad byte only when it ends the list exactly.
bool walk_chunks(Cursor& c, uint64_t off, uint64_t end, Chunks& k, bool webp) {
    if (!c.seek(off)) return false;
    bool first = true;
    while (c.pos() < end) {
        uint8_t h[12];
        if (end - c.pos() < 8 || !c.bytes(h, 8)) return false;
        if (!fourcc_ok(h)) return false;
        uint64_t size = rd_le32(h + 4);
        uint64_t body = c.pos();
        if (body + size > end) return false;
        if (std::memcmp(h, "LIST", 4) == 0) {
            if (size < 4 || !c.bytes(h + 8, 4) || !fourcc_ok(h + 8)) return false;
            if (std::memcmp(h + 8, "hdrl", 4) == 0) k.hdrl = true;
            if (std::memcmp(h + 8, "movi", 4) == 0) k.movi = true;
        } else if (std::memcmp(h, "fmt ", 4) == 0) {
            k.fmt = true;
        } else if (std::memcmp(h, "data", 4) == 0) {
            k.data = true;
            k.data_off = body;
            k.data_size = size;
        }
        if (webp && first)
            k.vp8 = std::memcmp(h, "VP8 ", 4) == 0 || std::memcmp(h, "VP8L", 4) == 0 ||
                    std::memcmp(h, "VP8X", 4) == 0;
        first = false;
        uint64_t next = body + size + (size & 1);
        if (next > end) next = body + size;  // unpadded last chunk
        if (!c.seek(next)) return false;
    }
    return c.pos() == end;
}

// The RIFF chunk at `off`: its form in `form`, its end (padded) in `end`.
bool riff_at(Cursor& c, uint64_t off, uint8_t form[4], uint64_t& end) {
    uint8_t h[12];
    if (!c.seek(off) || !c.bytes(h, 12) || std::memcmp(h, "RIFF", 4) != 0) return false;
    uint64_t size = rd_le32(h + 4);
    if (size < 4) return false;
    std::memcpy(form, h + 8, 4);
    end = off + 8 + size;
    return true;
}

// The whole file must be readable: the last byte is fetched.
bool present(Cursor& c, uint64_t end) {
    uint8_t b;
    return end > 0 && c.seek(end - 1) && c.u8(b);
}

bool avi_check(const uint8_t* h, size_t n) { return form_is(h, n, "AVI "); }
bool wav_check(const uint8_t* h, size_t n) { return form_is(h, n, "WAVE"); }
bool webp_check(const uint8_t* h, size_t n) { return form_is(h, n, "WEBP"); }
bool cdxa_check(const uint8_t* h, size_t n) { return form_is(h, n, "CDXA"); }

Carve avi_walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint8_t form[4];
    uint64_t end;
    if (!riff_at(c, 0, form, end) || std::memcmp(form, "AVI ", 4) != 0) return {};
    Chunks k;
    if (!walk_chunks(c, 12, end, k, false) || !k.hdrl || !k.movi) return {};
    // OpenDML: files over 1 GiB continue in further RIFF 'AVIX' chunks.
    for (;;) {
        uint64_t at = end + (end & 1);
        uint64_t next;
        Cursor probe(src, max_size);
        if (!riff_at(probe, at, form, next) || std::memcmp(form, "AVIX", 4) != 0) break;
        Chunks x;
        if (!walk_chunks(probe, at + 12, next, x, false) || !x.movi) break;
        end = next;
    }
    if (!present(c, end)) return {};
    // Only the lists' sizes vouch for the frames inside "movi": the range is
    // claimed, not proven.
    return {end, nullptr, true};
}

Carve wav_walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint8_t form[4];
    uint64_t end;
    if (!riff_at(c, 0, form, end) || std::memcmp(form, "WAVE", 4) != 0) return {};
    Chunks k;
    if (!walk_chunks(c, 12, end, k, false) || !k.fmt || !k.data) return {};
    if (!present(c, end)) return {};
    // Samples cannot tell a WAV stored in pieces from a whole one: the chunk
    // sizes claim the range, whatever lies inside it.
    return {end, nullptr, true};
}

Carve webp_walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint8_t form[4];
    uint64_t end;
    if (!riff_at(c, 0, form, end) || std::memcmp(form, "WEBP", 4) != 0) return {};
    Chunks k;
    if (!walk_chunks(c, 12, end, k, true) || !k.vp8) return {};
    if (!present(c, end)) return {};
    return {end, "webp"};
}

// Video CD: "fmt " and a "data" chunk of raw 2352-byte sectors, each opening
// with the CD sync pattern.
Carve cdxa_walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint8_t form[4];
    uint64_t end;
    if (!riff_at(c, 0, form, end) || std::memcmp(form, "CDXA", 4) != 0) return {};
    Chunks k;
    if (!walk_chunks(c, 12, end, k, false) || !k.fmt || !k.data) return {};
    if (k.data_size == 0 || k.data_size % kCdSector != 0) return {};
    static const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    // The first, the middle and the last sector carry the sync pattern.
    uint64_t count = k.data_size / kCdSector;
    for (uint64_t s : {uint64_t{0}, count / 2, count - 1}) {
        uint8_t sync[12];
        if (!c.seek(k.data_off + s * kCdSector) || !c.bytes(sync, 12) ||
            std::memcmp(sync, kSync, 12) != 0)
            return {};
    }
    if (!present(c, end)) return {};
    // Three sectors checked of the many the data chunk's size claims.
    return {end, nullptr, true};
}

}  // namespace

const Format& avi_format() {
    static const Format f{"avi", {"RIFF"}, avi_check, avi_walk, &fs::kRiffStitcher};
    return f;
}

const Format& wav_format() {
    static const Format f{"wav", {"RIFF"}, wav_check, wav_walk, &fs::kRiffStitcher};
    return f;
}

const Format& webp_format() {
    static const Format f{"raw", {"RIFF"}, webp_check, webp_walk};
    return f;
}

const Format& cdxa_format() {
    static const Format f{"dat", {"RIFF"}, cdxa_check, cdxa_walk};
    return f;
}

}  // namespace carver
