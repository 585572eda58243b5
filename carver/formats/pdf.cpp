// PDF: from "%PDF-" to the last "%%EOF" of the file. Each "%%EOF" must follow
// a "startxref" whose offset points back into the file at a cross-reference
// table or stream; incremental updates (objects or "xref" after an end
// marker) continue the file.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "core/format.h"
#include "fs/stitch.h"

namespace carver {
namespace {

constexpr size_t kTail = 48;  // room for "startxref", an offset and line ends

// A version, and a first object within the first sector (so that a stray
// signature does not send the walk through the whole device).
bool check(const uint8_t* h, size_t n) {
    if (n < 16 || (h[5] != '1' && h[5] != '2') || h[6] != '.' || !std::isdigit(h[7])) return false;
    size_t lim = n < 1024 ? n : 1024;
    for (size_t i = 8; i + 3 <= lim; ++i)
        if (h[i] == 'o' && h[i + 1] == 'b' && h[i + 2] == 'j') return true;
    return false;
}

bool is_space(uint8_t b) { return b == ' ' || b == '\r' || b == '\n' || b == '\t' || b == '\f' || b == 0; }

// True when "startxref <offset>" precedes the "%%EOF" at `at`, with the
// offset inside the file at "xref" or an object ("N G obj").
bool valid_trailer(Source& src, uint64_t at) {
    if (at < kTail) return false;
    uint8_t t[kTail + 1] = {};
    if (src.read(at - kTail, t, kTail) != kTail) return false;
    const char* s = reinterpret_cast<const char*>(t);
    const char* sx = nullptr;
    for (const char* p = s; p + 9 <= s + kTail; ++p)
        if (std::memcmp(p, "startxref", 9) == 0) sx = p;
    if (!sx) return false;
    const char* p = sx + 9;
    while (p < s + kTail && is_space(static_cast<uint8_t>(*p))) ++p;
    uint64_t off = 0;
    int digits = 0;
    for (; p < s + kTail && std::isdigit(static_cast<unsigned char>(*p)) && digits < 12; ++p, ++digits)
        off = off * 10 + static_cast<uint64_t>(*p - '0');
    if (digits == 0 || off < 9 || off >= at) return false;
    while (p < s + kTail && is_space(static_cast<uint8_t>(*p))) ++p;
    if (p != s + kTail) return false;  // only white space between the offset and %%EOF
    uint8_t x[24] = {};
    size_t got = src.read(off, x, sizeof x);
    if (got >= 4 && std::memcmp(x, "xref", 4) == 0) return true;
    // "N G obj" (a cross-reference stream)
    size_t i = 0;
    auto number = [&] {
        size_t start = i;
        while (i < got && std::isdigit(x[i])) ++i;
        return i > start;
    };
    if (!number() || i >= got || x[i] != ' ') return false;
    ++i;
    if (!number()) return false;
    while (i < got && x[i] == ' ') ++i;
    return i + 3 <= got && std::memcmp(x + i, "obj", 3) == 0;
}

// After an end marker: does an incremental update (or a linearized file's
// main part) follow?
bool update_follows(Source& src, uint64_t at, uint64_t max_size) {
    uint8_t b[32] = {};
    if (at >= max_size) return false;
    size_t got = src.read(at, b, static_cast<size_t>(std::min<uint64_t>(sizeof b, max_size - at)));
    size_t i = 0;
    while (i < got && (b[i] == ' ' || b[i] == '\r' || b[i] == '\n' || b[i] == '\t')) ++i;
    if (i + 4 <= got && std::memcmp(b + i, "xref", 4) == 0) return true;
    size_t start = i;
    while (i < got && std::isdigit(b[i])) ++i;
    if (i == start || i >= got || b[i] != ' ') return false;
    ++i;
    start = i;
    while (i < got && std::isdigit(b[i])) ++i;
    if (i == start) return false;
    while (i < got && b[i] == ' ') ++i;
    return i + 3 <= got && std::memcmp(b + i, "obj", 3) == 0;
}

// Past this many bytes without an "endobj" or an end marker the data is no
// longer this file (a cut-off PDF is not read to the maximum size).
constexpr uint64_t kMaxGap = 64ull << 20;

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint64_t end = 0, last_mark = 0, pos = 0, window = 0;
    bool done = false;
    constexpr uint64_t kEof = 0x2525454F46ull;          // "%%EOF"
    constexpr uint64_t kEndobj = 0x656E646F626Aull;     // "endobj"
    constexpr uint64_t kHeader = 0x255044462Dull;       // "%PDF-"
    static constexpr uint8_t kLastBytes[3] = {'F', 'j', '-'};  // of "%%EOF", "endobj", "%PDF-"
    // Another PDF opening at a sector start ends this one (its own walk takes
    // over): so each byte is walked once, however many headers a disk holds.
    auto next_file = [&](uint64_t at) {
        if (at % 512 != 0) return false;
        uint8_t h[1024];
        return check(h, src.read(at, h, sizeof h));
    };
    auto on_eof = [&](uint64_t at) {  // "%%EOF" at `at`
        if (!valid_trailer(src, at)) return;
        uint64_t e = at + 5;
        uint8_t eol[2] = {0, 0};
        size_t got = e < max_size ? src.read(e, eol, static_cast<size_t>(std::min<uint64_t>(2, max_size - e))) : 0;
        if (got >= 1 && eol[0] == '\r') {
            ++e;
            if (got == 2 && eol[1] == '\n') ++e;
        } else if (got >= 1 && eol[0] == '\n') {
            ++e;
        }
        end = e;
        last_mark = at;
        if (!update_follows(src, e, max_size)) done = true;
    };
    uint64_t chunk = 1024;  // grows: most candidates end within their first sectors
    while (!done && pos < max_size) {
        uint64_t n = std::min<uint64_t>(chunk, max_size - pos);
        chunk = std::min<uint64_t>(chunk * 2, 65536);
        bool more = c.consume(n, [&](const uint8_t* p, size_t k) {
            if (done) return;
            const uint64_t base = pos;  // offset of p[0]
            // Only the last byte of a marker needs a look back: the rest pass
            // by, found by memchr rather than byte by byte.
            size_t next[3];
            auto find = [&](int m, size_t from) {
                const void* hit = from < k ? std::memchr(p + from, kLastBytes[m], k - from) : nullptr;
                next[m] = hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - p) : k;
            };
            for (int m = 0; m < 3; ++m) find(m, 0);
            for (;;) {
                int m = next[0] <= next[1] ? (next[0] <= next[2] ? 0 : 2) : (next[1] <= next[2] ? 1 : 2);
                size_t i = next[m];
                if (i >= k || done) break;
                find(m, i + 1);
                uint64_t w = window;
                for (size_t j = i >= 7 ? i - 7 : 0; j <= i; ++j) w = w << 8 | p[j];
                pos = base + i + 1;
                if ((w & 0xFFFFFFFFFFull) == kEof) on_eof(pos - 5);
                else if ((w & 0xFFFFFFFFFFFFull) == kEndobj) last_mark = pos;
                else if ((w & 0xFFFFFFFFFFull) == kHeader && pos > 5 && next_file(pos - 5)) done = true;
            }
            if (done) return;
            for (size_t j = k >= 8 ? k - 8 : 0; j < k; ++j) window = window << 8 | p[j];
            pos = base + k;
        });
        if (!more || pos - last_mark > kMaxGap) break;
    }
    if (end == 0 || end > max_size) return {};
    return {end, nullptr};
}

}  // namespace

const Format& pdf_format() {
    static const Format f{"pdf", {"%PDF-"}, check, walk, &fs::kPdfStitcher};
    return f;
}

}  // namespace carver
