// JPEG (JFIF, EXIF; baseline and progressive): marker walk from SOI to EOI.
// Segments are skipped by their length, so an EXIF thumbnail inside APP1 is
// never mistaken for the end; entropy-coded data is scanned for markers.
// A file whose MP index or XMP container directory lists further images or
// a video after the EOI goes on over them.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/format.h"
#include "formats/photo_parts.h"
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

// What the primary image's segments say of the parts after it.
struct Declared {
    std::vector<uint8_t> mpf;  // APP2 payload after "MPF\0": the MP header
    uint64_t mpf_tiff = 0;     // file offset of that payload (its TIFF header)
    std::vector<uint8_t> xmp;  // the XMP packet of APP1
};

constexpr std::string_view kMpfId("MPF\0", 4);
constexpr std::string_view kXmpId("http://ns.adobe.com/xap/1.0/\0", 29);

// Keeps an APP1 XMP packet or an APP2 MP header (the first of each); leaves
// the cursor after the segment. `len` counts the payload only.
bool keep_segment(Cursor& c, uint8_t marker, uint64_t len, Declared& d) {
    const uint64_t end = c.pos() + len;
    std::string_view id = marker == 0xE2 ? kMpfId : kXmpId;
    std::vector<uint8_t>& into = marker == 0xE2 ? d.mpf : d.xmp;
    uint8_t head[29];
    if (!into.empty() || len < id.size() || !c.bytes(head, id.size()) ||
        std::memcmp(head, id.data(), id.size()) != 0)
        return c.seek(end);
    if (marker == 0xE2) d.mpf_tiff = c.pos();
    into.resize(static_cast<size_t>(len - id.size()));
    return c.bytes(into.data(), into.size());
}

// Walks one image from its SOI at `at` to its EOI; returns the offset after
// the EOI, 0 when it is no image. Collects the primary's declarations.
uint64_t walk_image(Source& src, uint64_t at, uint64_t limit, Declared* declared) {
    Cursor c(src, limit, at);
    uint16_t soi;
    if (!c.be16(soi) || soi != 0xFFD8) return 0;
    bool frame = false, scan = false;
    for (;;) {
        uint8_t b, m;
        if (!c.u8(b) || b != 0xFF) return 0;
        do {
            if (!c.u8(m)) return 0;
        } while (m == 0xFF);
        if (m == 0xD9) return frame && scan ? c.pos() : 0;
        if (m == 0x01 || is_rst(m)) continue;  // standalone markers
        if (m < 0xC0 || m == 0xD8) return 0;
        uint16_t len;
        if (!c.be16(len) || len < 2) return 0;
        if (is_sof(m)) {
            if (len < 8) return 0;
            frame = true;
        }
        if (m == 0xDA) {
            if (!frame || len < 6) return 0;
            scan = true;
            if (!c.skip(len - 2u) || !skip_entropy(c)) return 0;
            continue;
        }
        if (declared && (m == 0xE1 || m == 0xE2)) {
            if (!keep_segment(c, m, len - 2u, *declared)) return 0;
        } else if (!c.skip(len - 2u)) {
            return 0;
        }
    }
}

// A part the primary declares after itself, at a file offset.
struct Part {
    enum Kind { Image, Video, Unknown };
    uint64_t at, length;
    Kind kind;
};

Part::Kind kind_of(const ContainerItem& item) {
    if (item.semantic == "MotionPhoto" || item.mime.rfind("video/", 0) == 0) return Part::Video;
    if (item.mime == "image/jpeg") return Part::Image;
    return Part::Unknown;
}

std::vector<Part> declared_parts(const Declared& d, uint64_t primary_end) {
    std::vector<Part> parts;
    std::vector<MpImage> images;
    uint64_t images_end = primary_end;
    if (!d.mpf.empty() && parse_mp_index(d.mpf.data(), d.mpf.size(), images)) {
        for (const MpImage& im : images) {
            parts.push_back({d.mpf_tiff + im.offset, im.size, Part::Image});
            images_end = std::max(images_end, d.mpf_tiff + im.offset + im.size);
        }
    }
    XmpParts xmp = parse_xmp_parts(reinterpret_cast<const char*>(d.xmp.data()), d.xmp.size());
    if (!xmp.items.empty()) {
        uint64_t at = primary_end + xmp.items[0].padding;
        for (size_t i = 1; i < xmp.items.size(); ++i) {
            const ContainerItem& item = xmp.items[i];
            parts.push_back({at, item.length, item.length ? kind_of(item) : Part::Unknown});
            at += item.length + item.padding;
        }
    } else if (xmp.micro_video_offset) {
        parts.push_back({images_end, xmp.micro_video_offset, Part::Video});
    }
    std::sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.at < b.at; });
    return parts;
}

bool part_checks(Source& src, const Part& p) {
    // An image's stated size runs from its start marker to its end marker.
    if (p.kind == Part::Image) return walk_image(src, p.at, p.at + p.length, nullptr) == p.at + p.length;
    if (p.kind != Part::Video) return false;
    OffsetSource video(src, p.at);
    return find_format("mp4")->walk(video, p.length).length == p.length;
}

// The file goes on after the primary's EOI over the parts it declares, as
// far as each checks where it is said to lie (one part may be listed both by
// the MP index and the container directory). A part that does not check
// ends the file there, marked partial.
void add_declared_parts(Source& src, uint64_t max_size, const Declared& d, Carve& cv) {
    uint64_t end = cv.length;
    for (const Part& p : declared_parts(d, cv.length)) {
        if (p.at + p.length <= end) continue;  // within a part already proven
        if (p.at < end || p.length > max_size || p.at > max_size - p.length || !part_checks(src, p)) {
            cv.partial = true;
            break;
        }
        end = p.at + p.length;
        if (p.kind == Part::Video) {
            cv.part_offset = p.at;
            cv.part_length = p.length;
            cv.part_ext = "mp4";
        }
    }
    cv.length = end;
}

Carve walk(Source& src, uint64_t max_size) {
    Declared d;
    Carve cv;
    cv.length = walk_image(src, 0, max_size, &d);
    if (cv.length && (!d.mpf.empty() || !d.xmp.empty())) add_declared_parts(src, max_size, d, cv);
    return cv;
}

}  // namespace

const Format& jpg_format() {
    static const Format f{"jpg", {std::string_view("\xFF\xD8\xFF", 3)}, check, walk, &fs::kJpegStitcher};
    return f;
}

}  // namespace carver
