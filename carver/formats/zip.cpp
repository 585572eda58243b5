// ZIP: local headers (with data descriptors and ZIP64 sizes), an optional APK
// signing block, the central directory and the end record with its comment.
// The counts and offsets of the end record must agree with what was walked.
// OpenDocument, EPUB, OOXML, JAR and APK archives are named by their contents.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/format.h"
#include "fs/stitch.h"

namespace carver {
namespace {

constexpr uint32_t kLocal = 0x04034b50, kCentral = 0x02014b50, kEnd = 0x06054b50;
constexpr uint32_t kDescriptor = 0x08074b50, kEnd64 = 0x06064b50, kLocator64 = 0x07064b50;
constexpr uint32_t kMaxEntries = 1u << 20;

bool check(const uint8_t* h, size_t n) {
    if (n < 30) return false;
    uint16_t version = rd_le16(h + 4), flags = rd_le16(h + 6), method = rd_le16(h + 8);
    return (version & 0xFF) <= 63 && method <= 99 && (flags & 0xC000) == 0 && rd_le16(h + 26) != 0;
}

struct Contents {
    bool content_types = false, word = false, xl = false, ppt = false;
    bool manifest = false, android = false, dex = false;
    std::string mimetype;

    void name(const std::string& n) {
        auto starts = [&](const char* p) { return n.compare(0, std::strlen(p), p) == 0; };
        if (n == "[Content_Types].xml") content_types = true;
        else if (starts("word/")) word = true;
        else if (starts("xl/")) xl = true;
        else if (starts("ppt/")) ppt = true;
        else if (n == "META-INF/MANIFEST.MF") manifest = true;
        else if (n == "AndroidManifest.xml") android = true;
        else if (n == "classes.dex") dex = true;
    }

    const char* ext() const {
        static const struct { const char* mime; const char* ext; } kOdf[] = {
            {"application/vnd.oasis.opendocument.text", "odt"},
            {"application/vnd.oasis.opendocument.spreadsheet", "ods"},
            {"application/vnd.oasis.opendocument.presentation", "odp"},
            {"application/vnd.oasis.opendocument.graphics", "odg"},
            {"application/vnd.oasis.opendocument.text-template", "ott"},
            {"application/vnd.oasis.opendocument.spreadsheet-template", "ots"},
            {"application/vnd.oasis.opendocument.presentation-template", "otp"},
            {"application/vnd.oasis.opendocument.formula", "odf"},
            {"application/epub+zip", "epub"},
        };
        for (const auto& o : kOdf)
            if (mimetype == o.mime) return o.ext;
        if (content_types) {
            if (word) return "docx";
            if (xl) return "xlsx";
            if (ppt) return "pptx";
        }
        if (android && (dex || manifest)) return "apk";
        if (manifest) return "jar";
        return nullptr;
    }
};

// Reads a ZIP64 extended-information field for the sizes that are 0xFFFFFFFF.
void zip64_sizes(const std::string& extra, uint64_t& usize, uint64_t& csize) {
    for (size_t i = 0; i + 4 <= extra.size();) {
        const auto* p = reinterpret_cast<const uint8_t*>(extra.data() + i);
        uint16_t id = rd_le16(p), len = rd_le16(p + 2);
        if (i + 4 + len > extra.size()) return;
        if (id == 1) {
            size_t at = 4;
            auto u64 = [&](uint64_t& v) {
                if (at + 8 > 4u + len) return;
                v = rd_le32(p + at) | static_cast<uint64_t>(rd_le32(p + at + 4)) << 32;
                at += 8;
            };
            if (usize == 0xFFFFFFFFu) u64(usize);
            if (csize == 0xFFFFFFFFu) u64(csize);
            return;
        }
        i += 4 + len;
    }
}

// Entry data of unknown size followed by a data descriptor: finds the
// descriptor whose compressed size matches the distance walked, before the
// next header. Returns the offset after it, or 0.
uint64_t find_descriptor(Source& src, uint64_t data, uint64_t max_size) {
    Cursor c(src, max_size, data);
    for (;;) {
        if (!c.find('P')) return 0;
        uint64_t at = c.pos();
        uint8_t b[24];
        if (!c.bytes(b, 4)) return 0;
        uint32_t sig = rd_le32(b);
        c.seek(at + 1);
        if (sig == kDescriptor) {
            uint8_t d[20];
            if (src.read(at + 4, d, 20) < 12) return 0;
            if (rd_le32(d + 4) == at - data) return at + 16;
            uint64_t c64 = rd_le32(d + 4) | static_cast<uint64_t>(rd_le32(d + 8)) << 32;
            if (c64 == at - data) return at + 24;
        } else if ((sig == kLocal || sig == kCentral) && at >= data + 12) {
            // A descriptor without its optional signature just before the next
            // header; the next header without one means this entry is broken
            // (searching on would cost every broken entry the rest of the disk).
            if (src.read(at - 12, b, 12) != 12) return 0;
            return rd_le32(b + 4) == at - 12 - data ? at : 0;
        }
    }
}

// Rejects tell the scan how far the walked structure reaches: a local header
// met on the way leads to the same end, so it is not walked again. Stored
// entries may hold whole archives of their own: their sectors stay open.
struct Walk {
    uint64_t nested = UINT64_MAX;  // first sector start inside a stored entry's data

    void stored(uint64_t data, uint64_t size) {
        uint64_t first = (data + 511) / 512 * 512;
        if (first < data + size && first < nested) nested = first;
    }
    Carve reject(uint64_t reached) const { return {0, nullptr, false, std::min(reached, nested)}; }
};

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    Contents kinds;
    Walk w;
    uint32_t locals = 0;
    uint32_t sig = 0;
    for (;;) {
        uint64_t at = c.pos();
        if (!c.le32(sig)) return w.reject(at);
        if (sig != kLocal) break;
        uint8_t h[26];
        if (!c.bytes(h, 26)) return w.reject(at);
        uint16_t flags = rd_le16(h + 2), method = rd_le16(h + 4);
        uint64_t csize = rd_le32(h + 14), usize = rd_le32(h + 18);
        uint16_t nlen = rd_le16(h + 22), xlen = rd_le16(h + 24);
        if (nlen == 0 || method > 99 || (rd_le16(h) & 0xFF) > 63 || ++locals > kMaxEntries)
            return w.reject(at);
        std::string name(nlen, '\0'), extra(xlen, '\0');
        if (!c.bytes(name.data(), nlen) || !c.bytes(extra.data(), xlen)) return w.reject(at);
        zip64_sizes(extra, usize, csize);
        kinds.name(name);
        uint64_t data = c.pos();
        if (locals == 1 && name == "mimetype" && method == 0 && csize > 0 && csize < 100) {
            kinds.mimetype.resize(static_cast<size_t>(csize));
            if (!c.bytes(kinds.mimetype.data(), kinds.mimetype.size())) return w.reject(at);
        }
        if ((flags & 8) && csize == 0) {
            uint64_t next = find_descriptor(src, data, max_size);
            if (next == 0 || !c.seek(next)) return w.reject(at);
            if (method == 0) w.stored(data, next - data);
        } else {
            // A size near 2^64 must not wrap around to an earlier header.
            if (!c.seek(data) || !c.skip(csize)) return w.reject(at);
            if (method == 0) w.stored(data, csize);
            if (flags & 8) {
                uint32_t d;
                if (!c.le32(d)) return w.reject(at);
                bool big = csize >= 0xFFFFFFFFu || usize >= 0xFFFFFFFFu;
                uint64_t body = d == kDescriptor ? c.pos() : c.pos() - 4;  // signature optional
                if (!c.seek(body + (big ? 20 : 12))) return w.reject(at);
            }
        }
    }
    if (locals == 0) return {};
    uint64_t chain_end = c.pos() - 4;
    // APK signing block: size, pairs, size again, magic.
    if (sig != kCentral) {
        uint64_t at = chain_end;
        uint8_t b[8];
        if (src.read(at, b, 8) != 8) return w.reject(chain_end);
        uint64_t size = rd_le32(b) | static_cast<uint64_t>(rd_le32(b + 4)) << 32;
        uint8_t tail[24];
        if (size < 24 || size > max_size || at + 8 + size > max_size ||
            src.read(at + 8 + size - 24, tail, 24) != 24 || std::memcmp(tail + 8, "APK Sig Block 42", 16) != 0 ||
            (rd_le32(tail) | static_cast<uint64_t>(rd_le32(tail + 4)) << 32) != size)
            return w.reject(chain_end);
        if (!c.seek(at + 8 + size) || !c.le32(sig)) return w.reject(chain_end);
    }
    // From here on a later header of the chain reaches the same directory
    // with fewer entries, so it fails as well: unless the end record names it
    // as the archive's start (this candidate then being junk before it).
    uint64_t cd_start = c.pos() - 4;
    uint32_t centrals = 0;
    while (sig == kCentral) {
        uint8_t h[42];
        if (!c.bytes(h, 42) || ++centrals > locals) return w.reject(chain_end);
        if (!c.skip(static_cast<uint64_t>(rd_le16(h + 24)) + rd_le16(h + 26) + rd_le16(h + 28)))
            return w.reject(chain_end);
        if (!c.le32(sig)) return w.reject(chain_end);
    }
    uint64_t cd_end = c.pos() - 4;
    if (sig == kEnd64) {
        uint8_t b[8];
        if (!c.bytes(b, 8)) return w.reject(chain_end);
        uint64_t size = rd_le32(b) | static_cast<uint64_t>(rd_le32(b + 4)) << 32;
        if (size < 44 || !c.skip(size) || !c.le32(sig) || sig != kLocator64 || !c.skip(16) || !c.le32(sig))
            return w.reject(chain_end);
    }
    if (sig != kEnd) return w.reject(chain_end);
    uint8_t e[18];
    if (!c.bytes(e, 18)) return w.reject(chain_end);
    uint16_t total = rd_le16(e + 6);
    uint32_t cd_size = rd_le32(e + 8), cd_off = rd_le32(e + 12);
    if (centrals != locals) {
        bool names_later = cd_off != 0xFFFFFFFFu && cd_off > 0 && cd_off < cd_start;
        return w.reject(names_later ? cd_start - cd_off : chain_end);
    }
    if (rd_le16(e) != 0 || rd_le16(e + 2) != 0) return w.reject(chain_end);  // multi-part archives
    if (total != 0xFFFF && total != (centrals & 0xFFFF)) return w.reject(chain_end);
    if (cd_off != 0xFFFFFFFFu && cd_off != cd_start) return w.reject(chain_end);
    if (cd_size != 0xFFFFFFFFu && cd_size != cd_end - cd_start) return w.reject(chain_end);
    if (!c.skip(rd_le16(e + 16))) return w.reject(chain_end);
    uint8_t last;
    if (c.pos() == 0 || src.read(c.pos() - 1, &last, 1) != 1) return w.reject(chain_end);
    return {c.pos(), kinds.ext()};
}

}  // namespace

const Format& zip_format() {
    static const Format f{"zip", {std::string_view("PK\x03\x04", 4)}, check, walk, &fs::kZipStitcher};
    return f;
}

}  // namespace carver
