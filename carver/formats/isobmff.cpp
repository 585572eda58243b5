// ISO base media files (MP4, QuickTime, 3GP, HEIF/AVIF, CR3): the top-level
// box walk from `ftyp`, with 64-bit sizes. The major brand decides the
// command-line key the file belongs to and its extension.
#include <cstring>

#include "core/format.h"
#include "fs/stitch.h"

namespace carver {
namespace {

enum class Family { Mp4, Mov, ThreeGp, Still };

struct Brand {
    Family family;
    const char* ext;  // nullptr: the table's extension
};

Brand classify(const uint8_t* b) {
    auto is = [b](const char* s) { return std::memcmp(b, s, 4) == 0; };
    if (is("qt  ")) return {Family::Mov, nullptr};
    if (!std::memcmp(b, "3g2", 3)) return {Family::ThreeGp, "3g2"};
    if (!std::memcmp(b, "3gp", 3) || !std::memcmp(b, "3gg", 3) || !std::memcmp(b, "3gs", 3) ||
        !std::memcmp(b, "3ge", 3))
        return {Family::ThreeGp, nullptr};
    if (is("heic") || is("heix") || is("heim") || is("heis") || is("hevc") || is("hevx") ||
        is("mif1") || is("msf1") || is("mif2"))
        return {Family::Still, "heic"};
    if (is("avif") || is("avis")) return {Family::Still, "avif"};
    if (is("crx ")) return {Family::Still, "cr3"};
    if (is("M4A ")) return {Family::Mp4, "m4a"};
    if (is("M4B ")) return {Family::Mp4, "m4b"};
    if (is("M4V ") || is("M4VH") || is("M4VP")) return {Family::Mp4, "m4v"};
    return {Family::Mp4, nullptr};
}

bool type_ok(const uint8_t* t) {
    for (int i = 0; i < 4; ++i)
        if (t[i] < 0x20 || t[i] > 0x7E) return false;
    return true;
}

// Boxes that may stand at the top level after `ftyp`; anything else ends the file.
bool top_level(const uint8_t* t) {
    static const char* const kTypes[] = {"moov", "mdat", "free", "skip", "wide", "uuid",
                                         "meta", "moof", "mfra", "sidx", "ssix", "styp",
                                         "pdin", "udta", "prft", "emsg", "pnot", "junk",
                                         "PICT", "bloc", "meco", "Xtra"};
    for (const char* k : kTypes)
        if (std::memcmp(t, k, 4) == 0) return true;
    return false;
}

bool check_family(const uint8_t* h, size_t n, Family want) {
    if (n < 16 || std::memcmp(h + 4, "ftyp", 4) != 0) return false;
    uint32_t size = rd_be32(h);
    if (size < 16 || size > 4096 || size % 4 != 0) return false;
    return type_ok(h + 8) && classify(h + 8).family == want;
}

bool check_mp4(const uint8_t* h, size_t n) { return check_family(h, n, Family::Mp4); }
// Older QuickTime files have no ftyp box and open with one of these.
bool bare_quicktime(const uint8_t* h, size_t n) {
    if (n < 16) return false;
    static const char* const kFirst[] = {"moov", "wide", "free", "skip", "mdat", "pnot"};
    for (const char* k : kFirst)
        if (std::memcmp(h + 4, k, 4) == 0) return rd_be32(h) >= 8;
    return false;
}

bool check_mov(const uint8_t* h, size_t n) {
    return check_family(h, n, Family::Mov) || bare_quicktime(h, n);
}
bool check_3gp(const uint8_t* h, size_t n) { return check_family(h, n, Family::ThreeGp); }
bool check_still(const uint8_t* h, size_t n) { return check_family(h, n, Family::Still); }

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint8_t h[16];
    if (!c.bytes(h, 16)) return {};
    bool bare = bare_quicktime(h, 16);
    if (!bare && !check_family(h, 16, classify(h + 8).family)) return {};
    Brand brand = bare ? Brand{Family::Mov, nullptr} : classify(h + 8);
    uint64_t pos = bare ? 0 : rd_be32(h);
    bool moov = false, meta = false, mdat = false, moof = false;
    bool opaque_last = false;  // the last box's contents are not looked at
    for (;;) {
        uint8_t b[16];
        if (pos + 8 > max_size || !c.seek(pos) || !c.bytes(b, 8) || !top_level(b + 4)) break;
        uint64_t size = rd_be32(b);
        uint64_t header = 8;
        if (size == 1) {  // 64-bit size follows the type
            if (!c.bytes(b + 8, 8)) break;
            size = static_cast<uint64_t>(rd_be32(b + 8)) << 32 | rd_be32(b + 12);
            header = 16;
        } else if (size == 0) {
            break;  // "to the end of the file": no end to find
        }
        // A known box that does not fit: the file is cut short.
        if (size < header || size > max_size - pos) return {};
        uint8_t last;
        if (!c.seek(pos + size - 1) || !c.u8(last) || !c.seek(pos + header)) return {};
        const uint8_t* t = b + 4;
        if (!std::memcmp(t, "moov", 4) || !std::memcmp(t, "meta", 4) || !std::memcmp(t, "moof", 4)) {
            // A container: its first child must look like a box that fits.
            uint8_t child[8];
            uint64_t skip = !std::memcmp(t, "meta", 4) && brand.family == Family::Still ? 4 : 0;
            if (size < header + skip + 8 || !c.skip(skip) || !c.bytes(child, 8) ||
                !type_ok(child + 4) || rd_be32(child) < 8 || rd_be32(child) > size - header - skip)
                return {};
            // Without ftyp nothing else vouches for the file: the movie header
            // (or its compressed form) must open the movie.
            if (bare && !std::memcmp(t, "moov", 4) && std::memcmp(child + 4, "mvhd", 4) != 0 &&
                std::memcmp(child + 4, "cmov", 4) != 0)
                return {};
            moov |= !std::memcmp(t, "moov", 4);
            meta |= !std::memcmp(t, "meta", 4);
            moof |= !std::memcmp(t, "moof", 4);
        }
        mdat |= !std::memcmp(t, "mdat", 4);
        opaque_last = std::memcmp(t, "moov", 4) && std::memcmp(t, "meta", 4) && std::memcmp(t, "moof", 4);
        pos += size;
    }
    bool complete = brand.family == Family::Still ? meta && mdat : moov && (mdat || moof);
    if (!complete) return {};
    // A box followed by another is proven by it; the last one (media data
    // after a leading movie header) only by its own size.
    return {pos, brand.ext, opaque_last};
}

const std::string_view kSig("\0\0\0", 3);  // the ftyp box is far smaller than 16 MiB

}  // namespace

const Format& mp4_format() {
    static const Format f{"mp4", {kSig}, check_mp4, walk, &fs::kIsoStitcher};
    return f;
}

const Format& mov_format() {
    static const Format f{"mov", {kSig}, check_mov, walk, &fs::kIsoStitcher};
    return f;
}

const Format& threegp_format() {
    static const Format f{"3gp", {kSig}, check_3gp, walk, &fs::kIsoStitcher};
    return f;
}

// HEIF/HEIC, AVIF and CR3 belong to "raw" (everything).
const Format& heif_format() {
    static const Format f{"raw", {kSig}, check_still, walk};
    return f;
}

}  // namespace carver
