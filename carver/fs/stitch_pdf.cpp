// PDF files put together across other deleted files' clusters: the file read
// as a chain of objects and cross-reference sections. A deflated stream
// proves its bytes (zlib's checksum), an object's text must read as PDF text
// from "N G obj" to "endobj", and every cross-reference entry must point at
// the object of its number where the walk found it.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <zlib.h>

#include "fs/stitch.h"

namespace carver::fs {
namespace {

constexpr uint64_t kPdfWork = 64u << 20;
// Bytes read looking for one unit's continuation: at its cluster boundaries,
// and again with other deleted files left out.
constexpr uint64_t kUnitSearch = 2u << 20;
constexpr size_t kMaxText = 16384;      // an object's dictionary, before "stream" or "endobj"
constexpr size_t kMaxObjects = 1u << 16;

// Six bytes as one number: the words an object's text ends with, compared once a byte.
constexpr uint64_t word6(const char* w) {
    uint64_t v = 0;
    for (int i = 0; i < 6; ++i) v = v << 8 | static_cast<uint8_t>(w[i]);
    return v;
}
constexpr uint64_t kSix = 0xFFFFFFFFFFFFull, kEndobj = word6("endobj"), kStream = word6("stream");

bool is_space(uint8_t c) { return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
// Bytes an object's text holds: printable ASCII and white space.
bool is_text(uint8_t c) { return is_space(c) || (c >= 0x20 && c < 0x7F); }

// A forward reader over the stitched bytes with a small buffer.
class Reader {
public:
    Reader(Source& s, uint64_t at, uint64_t limit, uint64_t& work) : s_(s), pos_(at), limit_(limit), work_(work) {}
    uint64_t pos() const { return pos_; }
    bool peek(uint8_t& c) {
        if (pos_ >= limit_) return false;
        if (pos_ < at_ || pos_ >= at_ + len_) {
            at_ = pos_;
            // Small reads first: most hypotheses fail within a few bytes of the break.
            len_ = s_.read(pos_, buf_, static_cast<size_t>(std::min<uint64_t>(fill_, limit_ - pos_)));
            fill_ = std::min<size_t>(fill_ * 2, sizeof buf_);
            work_ += len_ + 64;
            if (len_ == 0) return false;
        }
        c = buf_[pos_ - at_];
        return true;
    }
    bool get(uint8_t& c) {
        if (!peek(c)) return false;
        ++pos_;
        return true;
    }
    void skip_space() {
        uint8_t c;
        while (peek(c) && is_space(c)) ++pos_;
    }
    bool word(const char* w) {
        for (const char* p = w; *p; ++p) {
            uint8_t c;
            if (!get(c) || c != static_cast<uint8_t>(*p)) return false;
        }
        return true;
    }
    bool number(uint64_t& v) {
        uint8_t c;
        v = 0;
        int n = 0;
        while (peek(c) && is_digit(c) && n < 12) {
            v = v * 10 + (c - '0');
            ++pos_, ++n;
        }
        return n > 0;
    }
    void seek(uint64_t at) { pos_ = at; }
    void charge(uint64_t n) { work_ += n; }

private:
    Source& s_;
    uint64_t pos_, limit_;
    uint64_t& work_;
    uint8_t buf_[4096];
    uint64_t at_ = 0;
    size_t len_ = 0;
    size_t fill_ = 256;
};

class PdfUnits final : public Units {
public:
    explicit PdfUnits(uint64_t max_size) : max_size_(max_size) {}

    Result check(Source& s, uint64_t at, uint64_t& next, uint64_t& work) override {
        if (at != unit_at_) unit_at_ = at, at_boundary_ = at_skip_ = 0;
        uint64_t& spent = boundary_ ? at_boundary_ : at_skip_;
        boundary_ = false;
        pending_num_ = UINT64_MAX;
        pending_xref_ = false;
        if (spent > kUnitSearch) {
            work += 64;
            return Result::Bad;
        }
        const uint64_t before = work;
        Reader r(s, at, max_size_, work);
        uint8_t c;
        Result res = !r.peek(c) ? Result::Bad : c == 'x' ? xref(r, at, next) : object(r, at, next) ? Result::Good : Result::Bad;
        reach_ = r.pos();
        spent += work - before;
        return res;
    }

    void accept() override {
        if (pending_num_ != UINT64_MAX && objects_.size() < kMaxObjects) objects_[pending_num_] = pending_at_;
        if (pending_xref_) xrefs_.insert(pending_at_);
    }

    // As far as the last check read (an error shows after the break), or the
    // stream's stated length.
    uint64_t span(Source& s, uint64_t at) override {
        at_boundary_ = at_skip_ = 0;  // the search for this unit's continuation starts
        uint64_t work = 0, length = 0;
        Reader r(s, at, max_size_, work);
        uint64_t reach = reach_ > at ? reach_ - at + 4096 : 0;
        if (stream_length(r, length)) reach = std::max(reach, length);
        return std::max<uint64_t>(reach, kMaxText);
    }

    bool plausible(Source&, uint64_t, uint64_t& work) override {
        work += 64;
        boundary_ = true;
        return true;
    }
    bool searched_out() const override { return at_boundary_ > kUnitSearch; }

private:
    // "N G obj" ... "endobj": text, and a stream's bytes as its filter proves them.
    bool object(Reader& r, uint64_t at, uint64_t& next) {
        uint64_t num, gen;
        if (!r.number(num) || !r.word(" ") || !r.number(gen) || !r.word(" obj")) return false;
        bool flate = false, direct = false;
        uint64_t length = 0;
        std::string dict;
        uint64_t tail = 0;  // the last six bytes
        for (;;) {
            uint8_t c;
            if (!r.get(c) || !is_text(c) || dict.size() > kMaxText) return false;
            dict += static_cast<char>(c);
            tail = (tail << 8 | c) & kSix;
            if (tail == kEndobj) break;
            if (tail == kStream) {
                flate = dict.find("/FlateDecode") != std::string::npos && dict.find("/DecodeParms") == std::string::npos;
                direct = direct_length(dict, length);
                if (!r.get(c)) return false;
                if (c == '\r' && !r.get(c)) return false;
                if (c != '\n') return false;
                uint64_t data = r.pos();
                uint64_t end = 0;
                if (flate) {
                    if (!inflates(r, data, direct ? length : max_size_ - std::min(max_size_, data), end)) return false;
                    if (direct) end = data + length;
                } else if (direct) {
                    end = data + length;
                } else {
                    return false;  // unfiltered data of unknown length: nothing to prove it
                }
                r.seek(end);
                r.skip_space();
                if (!r.word("endstream")) return false;
                r.skip_space();
                if (!r.word("endobj")) return false;
                break;
            }
        }
        r.skip_space();
        next = r.pos();
        pending_num_ = num;
        pending_at_ = at;
        return next <= max_size_;
    }


    // "/Length 123" not followed by "0 R".
    static bool direct_length(const std::string& dict, uint64_t& length) {
        size_t at = dict.find("/Length");
        if (at == std::string::npos || dict.compare(at, 8, "/Length1") == 0) return false;
        at += 7;
        while (at < dict.size() && is_space(static_cast<uint8_t>(dict[at]))) ++at;
        size_t digits = at;
        length = 0;
        while (at < dict.size() && is_digit(static_cast<uint8_t>(dict[at])) && at - digits < 12)
            length = length * 10 + static_cast<uint64_t>(dict[at++] - '0');
        if (at == digits) return false;
        size_t after = at;
        while (after < dict.size() && is_space(static_cast<uint8_t>(dict[after]))) ++after;
        return !(after < dict.size() && is_digit(static_cast<uint8_t>(dict[after])));
    }

    bool stream_length(Reader& r, uint64_t& length) {
        std::string dict;
        uint64_t tail = 0;
        for (uint8_t c; dict.size() < kMaxText && r.get(c);) {
            dict += static_cast<char>(c);
            tail = (tail << 8 | c) & kSix;
            if (tail == kStream) return direct_length(dict, length);
            if (tail == kEndobj) return false;
        }
        return false;
    }

    // zlib data from `data`, at most `limit` bytes, to its checked end.
    bool inflates(Reader& r, uint64_t data, uint64_t limit, uint64_t& end) {
        z_stream z{};
        if (::inflateInit(&z) != Z_OK) return false;
        struct Close {
            z_stream& z;
            ~Close() { ::inflateEnd(&z); }
        } close{z};
        uint8_t in[4096], out[16384];
        uint64_t fed = 0;
        r.seek(data);
        for (;;) {
            if (z.avail_in == 0) {
                size_t n = 0;
                for (uint8_t c; n < sizeof in && fed + n < limit && r.get(c);) in[n++] = c;
                if (n == 0) return false;
                fed += n;
                z.next_in = in;
                z.avail_in = static_cast<uInt>(n);
            }
            z.next_out = out;
            z.avail_out = sizeof out;
            int rc = ::inflate(&z, Z_NO_FLUSH);
            r.charge((sizeof out - z.avail_out) / 16);  // a stream that inflates a thousandfold costs its output
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK || z.total_out > (uint64_t(1) << 30)) return false;
        }
        end = data + fed - z.avail_in;
        return true;
    }

    // "xref", its sections (every entry in use that points before this
    // section names an object found there), "trailer", "startxref" naming a
    // section found, "%%EOF"; the file ends there unless an object or
    // another section follows.
    Result xref(Reader& r, uint64_t at, uint64_t& next) {
        if (!r.word("xref")) return Result::Bad;
        r.skip_space();
        size_t entries = 0;
        for (;;) {
            uint8_t c = 0;
            if (!r.peek(c)) return Result::Bad;
            if (c == 't') break;
            uint64_t first, count;
            if (!r.number(first) || !r.word(" ") || !r.number(count)) return Result::Bad;
            r.skip_space();
            for (uint64_t i = 0; i < count; ++i) {
                uint64_t off, gen;
                uint8_t kind;
                if (++entries > kMaxObjects || !r.number(off) || !r.word(" ") || !r.number(gen) || !r.word(" ") ||
                    !r.get(kind))
                    return Result::Bad;
                r.skip_space();
                if (kind != 'n' || off >= at) continue;
                auto it = objects_.find(first + i);
                if (it == objects_.end() || it->second != off) return Result::Bad;
            }
        }
        if (!r.word("trailer")) return Result::Bad;
        for (size_t n = 0;; ++n) {  // the trailer's dictionary, then startxref
            uint8_t c;
            if (n > kMaxText || !r.get(c) || !is_text(c)) return Result::Bad;
            if (c == 's' && r.word("tartxref")) break;
        }
        r.skip_space();
        uint64_t where;
        if (!r.number(where)) return Result::Bad;
        if (where != at && where != 0 && !xrefs_.count(where))
            return Result::Bad;
        r.skip_space();
        if (!r.word("%%EOF")) return Result::Bad;
        uint64_t eof = r.pos();
        uint8_t c = 0;
        if (r.get(c) && c == '\r') eof = r.pos(), r.get(c);
        if (c == '\n') eof = r.pos();
        pending_xref_ = true;
        pending_at_ = at;
        r.seek(eof);
        r.skip_space();
        uint64_t probe = r.pos(), num;
        if (r.peek(c) && c == 'x' && r.word("xref")) {
            next = probe;
            return Result::Good;
        }
        r.seek(probe);
        if (r.number(num) && r.word(" ") && r.number(num) && r.word(" obj")) {
            next = probe;
            return Result::Good;
        }
        next = eof;
        return Result::End;
    }

    uint64_t max_size_;
    std::unordered_map<uint64_t, uint64_t> objects_;  // number -> offset
    std::unordered_set<uint64_t> xrefs_;               // offsets of the sections found
    uint64_t pending_num_ = UINT64_MAX, pending_at_ = 0, reach_ = 0;
    bool pending_xref_ = false;
    uint64_t unit_at_ = UINT64_MAX, at_boundary_ = 0, at_skip_ = 0;  // bytes spent searching for this unit
    bool boundary_ = false;  // the check comes from the search over cluster boundaries
};

}  // namespace

Stitched stitch_pdf(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips) {
    FreeStream head(v, first_cluster, phys);
    uint8_t h[1024];
    size_t n = head.read(0, h, sizeof h);
    if (n < 16 || std::memcmp(h, "%PDF-", 5) != 0) return {};
    // The header line and the comment lines after it.
    size_t at = 0;
    while (at < n && h[at] == '%') {
        while (at < n && h[at] != '\n' && h[at] != '\r') ++at;
        while (at < n && (h[at] == '\n' || h[at] == '\r')) ++at;
    }
    if (at >= n) return {};
    PdfUnits units(max_size);
    return stitch_units(v, first_cluster, phys, max_size, units, at, kPdfWork, skips);
}

}  // namespace carver::fs
