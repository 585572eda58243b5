// GIF 87a/89a: block walk from the screen descriptor to the trailer.
#include "core/format.h"
#include "fs/stitch.h"

namespace carver {
namespace {

bool check(const uint8_t* h, size_t n) {
    if (n < 13) return false;
    return rd_le16(h + 6) != 0 && rd_le16(h + 8) != 0;  // logical screen size
}

bool skip_sub_blocks(Cursor& c) {
    for (;;) {
        uint8_t len;
        if (!c.u8(len)) return false;
        if (len == 0) return true;
        if (!c.skip(len)) return false;
    }
}

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    if (!c.skip(10)) return {};
    uint8_t flags;
    if (!c.u8(flags) || !c.skip(2)) return {};
    if ((flags & 0x80) && !c.skip(3u << ((flags & 7) + 1))) return {};
    bool image = false;
    for (;;) {
        uint8_t tag;
        if (!c.u8(tag)) return {};
        if (tag == 0x3B) {
            if (!image) return {};
            return {c.pos(), nullptr};
        }
        if (tag == 0x21) {  // extension: label, then sub-blocks
            if (!c.skip(1) || !skip_sub_blocks(c)) return {};
        } else if (tag == 0x2C) {  // image descriptor
            uint8_t desc[9];
            if (!c.bytes(desc, 9)) return {};
            if (rd_le16(desc + 4) == 0 || rd_le16(desc + 6) == 0) return {};
            uint8_t lf = desc[8];
            if ((lf & 0x80) && !c.skip(3u << ((lf & 7) + 1))) return {};
            uint8_t code_size;
            if (!c.u8(code_size) || code_size < 1 || code_size > 11) return {};
            if (!skip_sub_blocks(c)) return {};
            image = true;
        } else {
            return {};
        }
    }
}

}  // namespace

const Format& gif_format() {
    static const Format f{"gif", {"GIF87a", "GIF89a"}, check, walk, &fs::kGifStitcher};
    return f;
}

}  // namespace carver
