// Plain text: a run of UTF-8 text (printable characters, tab, line and page
// breaks; no other control characters) starting at a sector boundary. Runs
// shorter than kMinText, or that do not look like prose or code, are not
// carved, so that names and labels in file-system metadata are left alone.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/format.h"

namespace carver {
namespace {

constexpr size_t kMinText = 128;

bool text_byte(uint8_t b) { return (b >= 0x20 && b != 0x7F) || b == '\t' || b == '\n' || b == '\r' || b == '\f'; }

// Length of the UTF-8 sequence starting at p (0 if invalid, or cut by the end).
size_t utf8_len(const uint8_t* p, size_t n) {
    uint8_t b = p[0];
    if (b < 0x80) return text_byte(b) ? 1 : 0;
    size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (len == 0 || b > 0xF4 || len > n) return 0;
    for (size_t i = 1; i < len; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    if (b == 0xE0 && p[1] < 0xA0) return 0;                 // overlong
    if (b == 0xED && p[1] >= 0xA0) return 0;                // surrogates
    if (b == 0xF0 && p[1] < 0x90) return 0;                 // overlong
    if (b == 0xF4 && p[1] >= 0x90) return 0;                // beyond U+10FFFF
    return len;
}

// Scans text from p; returns how many bytes are valid text.
size_t text_run(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {  // the common case, without the multi-byte checks
            if (!text_byte(p[i])) break;
            ++i;
            continue;
        }
        size_t k = utf8_len(p + i, n - i);
        if (k == 0) break;
        i += k;
    }
    return i;
}

// Text looks like words: enough letters, digits and spaces, and some variety.
bool looks_like_text(const uint8_t* p, size_t n) {
    bool seen[256] = {};
    size_t distinct = 0, wordy = 0, space = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = p[i];
        if (!seen[b]) seen[b] = true, ++distinct;
        if ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') ++wordy;
        else if (b >= '0' && b <= '9') ++wordy;
        else if (b == ' ' || b == '\n' || b == '\t') ++space, ++wordy;
        else if (b >= 0x80) ++wordy;
    }
    return distinct >= 8 && space > 0 && wordy * 10 >= n * 7;
}

// Text needs white space: a sector without any is rejected before the
// byte-by-byte look (long runs of one letter inside compressed data are common).
bool has_space(const uint8_t* h, size_t n) {
    return std::memchr(h, ' ', n) || std::memchr(h, '\n', n) || std::memchr(h, '\t', n);
}

bool check(const uint8_t* h, size_t n) {
    size_t lim = n < 512 ? n : 512;
    if (!has_space(h, lim)) return false;
    size_t run = text_run(h, lim);
    if (run < lim) {
        bool zero_end = h[run] == 0 && run >= kMinText;   // the rest of its only sector
        bool straddles = n > lim && lim - run < 4 && h[run] >= 0xC2;  // character cut by the sector end
        if (!zero_end && !straddles) return false;
    }
    return looks_like_text(h, run);
}

Carve walk(Source& src, uint64_t max_size) {
    constexpr size_t kChunk = 65536;
    std::vector<uint8_t> buf(kChunk + 4);
    uint64_t off = 0;  // file offset of buf[0]
    size_t pending = 0;  // bytes of a character cut by the previous chunk's end
    uint64_t run = 0, last_newline = 0;
    bool ended = false;
    uint8_t stop = 0;
    for (;;) {
        uint64_t next = off + pending;
        size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, max_size - next));
        size_t got = want ? src.read(next, buf.data() + pending, want) : 0;
        size_t n = pending + got;
        bool at_end = got < want || want == 0;
        size_t i = 0;
        while (i < n) {
            size_t k = utf8_len(buf.data() + i, n - i);
            if (k == 0) {
                if (!at_end && n - i < 4 && buf[i] >= 0xC2) break;  // needs the next chunk
                ended = true;
                stop = buf[i];
                break;
            }
            if (buf[i] == '\n') last_newline = off + i + 1;
            i += k;
        }
        run = off + i;
        if (ended || at_end) break;
        std::copy(buf.data() + i, buf.data() + n, buf.data());
        pending = n - i;
        off += i;
    }
    // Text that ends at a zero byte (the rest of its last sector), at the
    // device's end or at the size limit is whole; cut by other bytes, it ends
    // at its last line break.
    if (ended && stop != 0 && last_newline > 0) run = last_newline;
    if (run < kMinText) return {};
    return {run, nullptr};
}

std::vector<std::string_view> first_bytes() {
    static uint8_t bytes[256];
    std::vector<std::string_view> sigs;
    for (int b = 0; b < 256; ++b) {
        bytes[b] = static_cast<uint8_t>(b);
        if ((b < 0x80 && text_byte(static_cast<uint8_t>(b))) || (b >= 0xC2 && b <= 0xF4))
            sigs.emplace_back(reinterpret_cast<const char*>(&bytes[b]), 1);
    }
    return sigs;
}

}  // namespace

const Format& txt_format() {
    static const Format f{"txt", first_bytes(), check, walk};
    return f;
}

}  // namespace carver
