// ISO media files (MP4, QuickTime, 3GP) put together across other deleted
// files' clusters. The movie box's sample tables give the file offset and
// size of every sample, so the media data must line up with them: a video
// sample of length-prefixed NAL units must chain exactly to its size, an
// MPEG-4 or JPEG frame must open with its start code, and a movie box that
// follows the media data must lie where the media data's size puts it.
// Those are the strong checks that fix how many clusters a gap leaves out.
// Where the gap's place is not fixed by them (a break inside a large NAL
// unit, or among samples nothing checks), every cluster boundary there is
// tried: the break is placed only when one boundary alone keeps every check
// (AAC frames' opening element included), or when at exactly one of those
// the left-out clusters are other deleted files, end to end, as the map
// knows them. Otherwise the file is not stitched.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/iso_cut.h"
#include "fs/stitch.h"

namespace carver::fs {
namespace {

constexpr uint64_t kIsoWork = 32u << 20;      // bytes read per file, all hypotheses together
constexpr uint64_t kMaxMoov = 8u << 20;
constexpr size_t kMaxSamples = 1u << 19;    // items kept (24 bytes each)
constexpr int kMaxLeadingBoxes = 64;         // top-level boxes before the media data
constexpr uint64_t kMaxGapClusters = 4096;
constexpr int kMaxGaps = 1024;  // a clip recorded while photos were taken: a gap per photo write
constexpr uint64_t kMoovReach = 16 * 4096;  // clusters between where a trailing movie box belongs and where it lies
constexpr int kMoovTries = 4;  // movie boxes that look right at the expected places, parsed at most
constexpr uint64_t kWalkWork = 64u << 20;  // places tried past audio chunks, per clip without a movie box

uint64_t rd_be64(const uint8_t* p) { return uint64_t(rd_be32(p)) << 32 | rd_be32(p + 4); }
bool is(const uint8_t* t, const char* s) { return std::memcmp(t, s, 4) == 0; }

enum class Kind : uint8_t { None, Nal, Hevc, Mpeg4, Jpeg, Aac };

struct Sample {
    uint64_t at;
    uint64_t size;  // a sample, or a chunk's samples when nothing checks them
    Kind kind;
    uint8_t arg;  // NAL length bytes; AAC: the frame's first 7 bits
};

// Calls fn(type, payload, size) for the boxes that tile [p, p + n); false
// when they do not (a few zero bytes may close a QuickTime container).
template <class Fn> bool each_box(const uint8_t* p, size_t n, Fn&& fn) {
    for (size_t at = 0; at < n;) {
        if (n - at < 8) return n - at == 4 && rd_be32(p + at) == 0;
        uint64_t size = rd_be32(p + at), h = 8;
        if (size == 1) {
            if (n - at < 16) return false;
            size = rd_be64(p + at + 8), h = 16;
        } else if (size == 0) {
            size = n - at;
        }
        if (size < h || size > n - at) return false;
        if (!fn(p + at + 4, p + at + h, static_cast<size_t>(size - h))) return false;
        at += static_cast<size_t>(size);
    }
    return true;
}

// The payload of the first child of type `t`.
bool child(const uint8_t* p, size_t n, const char* t, const uint8_t*& out, size_t& len) {
    out = nullptr;
    bool tiled = each_box(p, n, [&](const uint8_t* type, const uint8_t* q, size_t m) {
        if (!out && is(type, t)) out = q, len = m;
        return true;
    });
    return tiled && out;
}

// AAC-LC's raw frame opens with the element its channel layout calls for:
// a single channel (mono) or a channel pair (stereo), instance 0, or a fill.
bool aac_opening(const uint8_t* e, size_t n, uint8_t& first7) {
    for (size_t at = 0; at + 4 <= n; ++at) {
        if (!is(e + at, "esds")) continue;
        // Descriptors: ES (0x03), decoder config (0x04), decoder specific info (0x05).
        size_t p = at + 8;  // after the version and flags
        auto descr = [&](uint8_t tag, size_t& len) {
            if (p >= n || e[p++] != tag) return false;
            len = 0;
            for (int i = 0; i < 4 && p < n; ++i) {
                uint8_t b = e[p++];
                len = len << 7 | (b & 0x7F);
                if (!(b & 0x80)) return len <= n - p;
            }
            return false;
        };
        size_t len;
        if (!descr(0x03, len) || n - p < 3) return false;
        uint8_t flags = e[p + 2];
        p += 3 + (flags & 0x80 ? 2 : 0);
        if (flags & 0x40) p += 1 + (p < n ? e[p] : 0);
        if (flags & 0x20) p += 2;
        if (!descr(0x04, len) || len < 13 || e[p] != 0x40) return false;
        p += 13;
        if (!descr(0x05, len) || len < 2) return false;
        int aot = e[p] >> 3, freq = (e[p] & 7) << 1 | e[p + 1] >> 7, channels = e[p + 1] >> 3 & 15;
        if (aot != 2 || freq == 15 || channels < 1 || channels > 2) return false;
        first7 = channels == 1 ? 0x00 : 0x10;
        return true;
    }
    return false;
}

// What the first sample description says the samples hold.
Kind sample_kind(const uint8_t* stsd, size_t n, uint8_t& arg) {
    if (n < 16) return Kind::None;
    const uint8_t* e = stsd + 8;
    size_t es = rd_be32(e);
    if (es < 16 || es > n - 8) return Kind::None;
    const uint8_t* type = e + 4;
    if (is(type, "avc1") || is(type, "avc3") || is(type, "hvc1") || is(type, "hev1")) {
        bool hevc = type[0] == 'h';
        const uint8_t* c;
        size_t cn;
        if (es < 86 || !child(e + 86, es - 86, hevc ? "hvcC" : "avcC", c, cn) || cn < (hevc ? 23u : 5u))
            return Kind::None;
        arg = static_cast<uint8_t>((c[hevc ? 21 : 4] & 3) + 1);
        return arg == 3 ? Kind::None : hevc ? Kind::Hevc : Kind::Nal;
    }
    if (is(type, "mp4v")) return Kind::Mpeg4;
    if (is(type, "jpeg") || is(type, "mjpa")) return Kind::Jpeg;
    if (is(type, "mp4a") && aac_opening(e + 8, es - 8, arg)) return Kind::Aac;
    return Kind::None;
}

// A track's samples from its chunk offsets, samples per chunk and sizes;
// false when the tables disagree with each other.
bool track_samples(const uint8_t* trak, size_t n, std::vector<Sample>& out) {
    const uint8_t *mdia, *minf, *stbl, *stsd, *stsz, *stsc, *stco;
    size_t mdia_n, minf_n, stbl_n, stsd_n, stsz_n, stsc_n, stco_n;
    if (!child(trak, n, "mdia", mdia, mdia_n) || !child(mdia, mdia_n, "minf", minf, minf_n) ||
        !child(minf, minf_n, "stbl", stbl, stbl_n) || !child(stbl, stbl_n, "stsd", stsd, stsd_n) ||
        !child(stbl, stbl_n, "stsz", stsz, stsz_n) || !child(stbl, stbl_n, "stsc", stsc, stsc_n))
        return false;
    bool wide = !child(stbl, stbl_n, "stco", stco, stco_n);
    if (wide && !child(stbl, stbl_n, "co64", stco, stco_n)) return false;
    if (stsz_n < 12 || stsc_n < 8 || stco_n < 8) return false;
    uint32_t uniform = rd_be32(stsz + 4), count = rd_be32(stsz + 8);
    uint32_t entries = rd_be32(stsc + 4), chunks = rd_be32(stco + 4);
    if ((!uniform && (stsz_n - 12) / 4 < count) || (stsc_n - 8) / 12 < entries ||
        (stco_n - 8) / (wide ? 8 : 4) < chunks)
        return false;
    uint8_t arg = 0;
    Kind kind = sample_kind(stsd, stsd_n, arg);
    uint32_t s = 0;  // next sample
    for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t* x = stsc + 8 + 12 * e;
        uint32_t first = rd_be32(x), per = rd_be32(x + 4);
        uint32_t last = e + 1 < entries ? rd_be32(x + 12) : chunks + 1;  // one past, 1-based
        if (first < 1 || last <= first || last > chunks + 1 || (e + 1 == entries && first > chunks)) return false;
        Kind k = rd_be32(x + 8) == 1 ? kind : Kind::None;  // other descriptions: not looked at
        for (uint32_t c = first; c < last; ++c) {
            const uint8_t* o = stco + 8 + (wide ? 8 : 4) * (c - 1);
            uint64_t at = wide ? rd_be64(o) : rd_be32(o);
            if (per > count - s) return false;
            if (at > UINT64_MAX / 4 || out.size() >= kMaxSamples) return false;
            if (k == Kind::None && uniform) {  // one item for the chunk, however many samples
                if (per) out.push_back({at, uint64_t(per) * uniform, k, arg});
                s += per;
                continue;
            }
            if (uniform && per > kMaxSamples) return false;
            uint64_t run = 0;  // bytes of unchecked samples
            for (uint32_t i = 0; i < per; ++i, ++s) {
                uint64_t size = uniform ? uniform : rd_be32(stsz + 12 + 4 * uint64_t(s));
                if (k == Kind::None) {
                    run += size;
                    continue;
                }
                if (size) out.push_back({at, size, k, arg});
                at += size;
            }
            if (run) out.push_back({at, run, k, arg});
            if (out.size() > kMaxSamples) return false;
        }
    }
    return s == count;
}

// Every sample of every track, in file order, inside [from, to) and not overlapping.
bool movie_samples(const std::vector<uint8_t>& moov, uint64_t from, uint64_t to, std::vector<Sample>& out) {
    out.clear();
    bool mvhd = false;
    bool ok = each_box(moov.data() + 8, moov.size() - 8, [&](const uint8_t* t, const uint8_t* p, size_t n) {
        mvhd |= is(t, "mvhd");
        return !is(t, "trak") || track_samples(p, n, out);
    });
    if (!ok || !mvhd || out.empty()) return false;
    std::sort(out.begin(), out.end(), [](const Sample& a, const Sample& b) { return a.at < b.at; });
    uint64_t end = from;
    for (const Sample& s : out) {
        if (s.at < end || s.at > to || s.size > to - s.at) return false;
        end = s.at + s.size;
    }
    return true;
}

struct Check {
    bool ok = true, strong = false;
    uint64_t good_to = 0;             // end of the bytes a strong check found right
    uint64_t bad_from = 0, bad_to = 0;  // the bytes it found wrong
};

bool read(Source& s, uint64_t at, uint8_t* b, size_t n, uint64_t& work) {
    work += n + 64;
    return s.read(at, b, n) == n;
}

Check check_sample(Source& s, const Sample& x, uint64_t& work) {
    Check r;
    uint8_t b[5];
    const uint64_t end = x.at + x.size;
    auto fail = [&](uint64_t from, uint64_t to) {
        r.ok = false;
        r.bad_from = from;
        r.bad_to = to;
        return r;
    };
    switch (x.kind) {
    case Kind::Nal:
    case Kind::Hevc: {
        r.strong = true;
        const unsigned L = x.arg;
        for (uint64_t p = x.at; p < end;) {
            if (end - p < L + 1u) return fail(p, end);
            if (!read(s, p, b, L + 1, work)) return fail(p, p + L + 1);
            uint64_t len = 0;
            for (unsigned i = 0; i < L; ++i) len = len << 8 | b[i];
            uint8_t h = b[L];
            bool header = x.kind == Kind::Nal ? !(h & 0x80) && (h & 31) >= 1 && (h & 31) <= 23
                                              : !(h & 0x80) && (h >> 1 & 63) < 48;
            if (len == 0 || len > end - p - L || !header) return fail(p, p + L + 1);
            r.good_to = p + L + 1;
            p += L + len;
        }
        return r;
    }
    case Kind::Mpeg4:
        r.strong = true;
        if (x.size < 4 || !read(s, x.at, b, 4, work) || b[0] || b[1] || b[2] != 1 ||
            !(b[3] <= 0x2F || b[3] == 0xB0 || b[3] == 0xB3 || b[3] == 0xB5 || b[3] == 0xB6))
            return fail(x.at, x.at + 4);
        r.good_to = x.at + 4;
        return r;
    case Kind::Jpeg:
        r.strong = true;
        if (x.size < 3 || !read(s, x.at, b, 3, work) || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF)
            return fail(x.at, x.at + 3);
        r.good_to = x.at + 3;
        return r;
    case Kind::Aac:
        // A fill element may come first (an encoder's first frame).
        if (!read(s, x.at, b, 1, work) || ((b[0] >> 1) != x.arg && (b[0] >> 5) != 6)) return fail(x.at, x.at + 1);
        return r;
    case Kind::None:
        return r;
    }
    return r;
}

struct Movie {
    std::vector<uint8_t> ftyp;  // the file type box, when the file opens with one
    std::vector<Sample> samples;
    std::vector<uint8_t> moov;   // when it follows the media data
    uint64_t moov_at = 0;        // its file offset there
    uint64_t moov_stream = 0;    // and where the free stream holds it
    std::vector<uint8_t> head_moov;  // when it comes first
    uint64_t head_moov_at = 0;
    uint64_t mdat_at = 0, mdat_header = 0;
    uint64_t data_start = 0, end = 0;
};

// The movie box at the file offset the media data's size gives, or that
// many clusters further on in the free stream: the first that reads whole
// and whose samples lie inside the media data.
bool find_moov_after(FreeStream& fs, uint64_t cs, uint64_t at, uint64_t data_start, uint64_t max_size, Movie& m,
                     uint64_t& work) {
    int tries = 0;
    for (uint64_t g = 0; g <= kMoovReach && tries < kMoovTries && work < kIsoWork; ++g) {
        uint8_t h[16];
        uint64_t s = at + g * cs;
        if (!read(fs, s, h, 16, work)) return false;  // the free stream ends
        uint64_t size = rd_be32(h);
        if (!is(h + 4, "moov") || size < 16 || size > kMaxMoov || size > max_size - std::min(max_size, at) ||
            !is(h + 12, "mvhd"))
            continue;
        ++tries;
        m.moov.resize(static_cast<size_t>(size));
        if (!read(fs, s, m.moov.data(), m.moov.size(), work)) return false;
        if (movie_samples(m.moov, data_start, at, m.samples)) {
            m.moov_at = at;
            m.moov_stream = s;
            m.end = at + size;
            return true;
        }
    }
    return false;
}

// The top-level boxes from the file's start up to the media data, read
// without gaps: ftyp and small boxes, and the movie box when it comes first.
bool read_layout(FreeStream& fs, uint64_t cs, uint64_t max_size, Movie& m, uint64_t& work) {
    std::vector<uint8_t> moov;
    for (uint64_t pos = 0, boxes = 0; pos < max_size && boxes < kMaxLeadingBoxes; ++boxes) {
        uint8_t h[16];
        if (!read(fs, pos, h, 16, work)) return false;
        uint64_t size = rd_be32(h), hdr = 8;
        if (size == 1) size = rd_be64(h + 8), hdr = 16;
        const uint8_t* t = h + 4;
        if (size < hdr || size > max_size - pos) return false;
        if (pos == 0 && !is(t, "ftyp") && !is(t, "wide") && !is(t, "free") && !is(t, "skip") && !is(t, "moov") &&
            !is(t, "mdat"))
            return false;
        if (is(t, "mdat")) {
            m.data_start = pos + hdr;
            m.mdat_at = pos;
            m.mdat_header = hdr;
            if (moov.empty()) return find_moov_after(fs, cs, pos + size, m.data_start, max_size, m, work);
            m.end = pos + size;
            m.head_moov = moov;
            return movie_samples(moov, m.data_start, m.end, m.samples);
        }
        if (pos == 0 && is(t, "ftyp") && hdr == 8 && size <= 4096) {
            m.ftyp.resize(static_cast<size_t>(size));
            if (!read(fs, 0, m.ftyp.data(), m.ftyp.size(), work)) return false;
        }
        if (is(t, "moov")) {
            if (hdr != 8 || size > kMaxMoov || !moov.empty()) return false;
            moov.resize(static_cast<size_t>(size));
            m.head_moov_at = pos;
            if (!read(fs, pos, moov.data(), moov.size(), work)) return false;
        } else if (!is(t, "ftyp") && !is(t, "free") && !is(t, "skip") && !is(t, "wide") && !is(t, "uuid") &&
                   !is(t, "udta") && !is(t, "pnot")) {
            return false;
        } else if (size > (1u << 20)) {
            return false;  // nothing proves a large box ahead of the media data
        }
        pos += size;
    }
    return false;
}

class IsoSearch {
public:
    IsoSearch(GappedStream& gs, const Movie& m, const std::vector<Skip>& skips)
        : gs_(gs), m_(m), skips_(skips), cs_(gs.cluster_size()) {}

    // True with the gaps set when every sample and the closing movie box check.
    bool run() {
        const size_t n = m_.samples.size() + (m_.moov.empty() ? 0 : 1);
        uint64_t lo = m_.data_start;  // end of the bytes last proven by a strong check
        size_t lo_at = 0;             // the item that proved them
        for (size_t i = 0; i < n;) {
            if (work_ > kIsoWork) return fail(lo);
            Check r = check(i);
            if (r.ok || !r.strong) {
                if (r.ok && r.strong && r.good_to > lo) lo = r.good_to, lo_at = i;
                ++i;
                continue;
            }
            if (r.good_to > lo) lo = r.good_to, lo_at = i;
            if (gaps_ == kMaxGaps || !place(lo_at, i, lo, r)) return fail(lo);
            ++gaps_;
        }
        // Nothing checks the bytes after the last strong check: no break may hide there.
        uint64_t from = std::max(lo, committed_ + 1);
        return !m_.moov.empty() || (from + cs_ - 1) / cs_ * cs_ >= m_.end || fail(lo);
    }

    // After a failed run: the bytes before the first place a break may lie.
    uint64_t proven() const { return proven_; }

private:
    bool fail(uint64_t lo) {
        proven_ = std::min(m_.end, (std::max(lo, committed_ + 1) + cs_ - 1) / cs_ * cs_);
        return false;
    }

    Check check(size_t i) {
        work_ += 16;  // an unchecked item costs its visit
        if (i < m_.samples.size()) return check_sample(gs_, m_.samples[i], work_);
        // The movie box read through the gaps is the one found.
        Check r;
        r.strong = true;
        uint8_t b[4096];
        for (uint64_t at = 0; at < m_.moov.size(); at += sizeof b) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(sizeof b, m_.moov.size() - at));
            size_t got = gs_.read(m_.moov_at + at, b, take);
            work_ += got + 64;
            size_t same = 0;
            while (same < got && b[same] == m_.moov[at + same]) ++same;
            if (same < take) {
                r.ok = false;
                r.bad_from = m_.moov_at + at + same;
                r.bad_to = r.bad_from + 1;
                return r;
            }
            r.good_to = m_.moov_at + at + take;
        }
        return r;
    }

    // Every item from `first` to `last` checks with the gaps as set.
    bool holds(size_t first, size_t last) {
        for (size_t i = first; i <= last; ++i)
            if (!check(i).ok || work_ > kIsoWork) return false;
        return true;
    }

    // A break in [lo, r.bad_to) made item `i` fail: its size from the strong
    // check, its place where only one cluster boundary keeps every check.
    bool place(size_t first, size_t i, uint64_t lo, const Check& r) {
        const uint64_t low = (std::max(lo, committed_ + 1) + cs_ - 1) / cs_ * cs_;
        if (low >= r.bad_to) return false;
        // The boundary probed first lies before the failing bytes when one does.
        uint64_t probe = r.bad_from >= low ? r.bad_from / cs_ * cs_ : low;
        uint64_t skipped = 0;  // stream bytes left out before the candidates
        for (const auto& gap : gs_.gaps())
            if (gap.at < low) skipped += gap.clusters * cs_;
        enum { No, Yes, Ended };
        auto fits = [&](uint64_t t) {
            gs_.set_gap(probe, t);
            uint8_t one;
            if (!read(gs_, probe, &one, 1, work_)) return Ended;  // no free clusters left
            return check(i).ok ? Yes : No;
        };
        uint64_t g = 0;
        if (i == m_.samples.size()) {  // the movie box: the gaps add up to where it was found
            uint64_t total = m_.moov_stream - m_.moov_at;
            if (total > skipped && fits((total - skipped) / cs_) == Yes) g = (total - skipped) / cs_;
        } else {
            for (uint64_t t = 1; t <= kMaxGapClusters && work_ < kIsoWork && !g; ++t) {
                auto f = fits(t);
                if (f == Ended) break;
                if (f == Yes) g = t;
            }
        }
        if (g == 0) return false;
        std::vector<uint64_t> kept, at_skip;
        auto place_at = [&](uint64_t b) {
            gs_.set_gap(low, 0);  // the previous candidate's gap
            gs_.set_gap(b, g);
        };
        for (uint64_t b = low; b < r.bad_to && work_ < kIsoWork; b += cs_) {
            place_at(b);
            if (!holds(first, i)) continue;
            kept.push_back(b);
            if (deleted_files_fill(b + skipped, g)) at_skip.push_back(b);
        }
        if (work_ > kIsoWork) return false;
        uint64_t b;
        if (kept.size() == 1) b = kept[0];
        else if (at_skip.size() == 1) b = at_skip[0];
        else return false;
        place_at(b);
        committed_ = b;
        return true;
    }

    // The `g` clusters from stream offset `at` are other deleted files, end to end.
    bool deleted_files_fill(uint64_t at, uint64_t g) const {
        const uint64_t end = at + g * cs_;
        for (auto it = skips_.begin(); at < end;) {
            it = std::find_if(it, skips_.end(), [&](const Skip& k) { return k.cluster * cs_ == at; });
            if (it == skips_.end()) return false;
            at += it->clusters * cs_;
        }
        return at == end;
    }

    GappedStream& gs_;
    const Movie& m_;
    const std::vector<Skip>& skips_;
    uint64_t cs_;
    uint64_t committed_ = 0;  // the last gap's place
    uint64_t work_ = 0;
    int gaps_ = 0;
    uint64_t proven_ = 0;
};

// What a search proved of a file it could not put together: the media data
// up to there, and after it a movie box for the samples it holds whole (the
// movie box at the front, if any, becomes free space). Nothing when no
// sample is whole.
Stitched proven_part(std::unique_ptr<GappedStream> gs, const Movie& m, uint64_t proven) {
    Stitched out;
    const std::vector<uint8_t>& moov = m.moov.empty() ? m.head_moov : m.moov;
    const uint64_t mdat = proven - std::min(proven, m.mdat_at);
    if (proven <= m.data_start || (m.mdat_header == 8 && mdat > UINT32_MAX)) return out;
    std::vector<uint8_t> cut = cut_moov(moov, m.data_start, proven);
    if (cut.empty()) return out;
    gs->set_gap(proven, 0);
    std::vector<uint8_t> size;
    for (int s = m.mdat_header == 8 ? 24 : 56; s >= 0; s -= 8) size.push_back(static_cast<uint8_t>(mdat >> s));
    gs->patch(m.mdat_at + (m.mdat_header == 8 ? 0 : 8), size);
    if (!m.head_moov.empty()) gs->patch(m.head_moov_at + 4, {'f', 'r', 'e', 'e'});
    out.length = proven + cut.size();
    gs->set_end(proven, std::move(cut));
    out.partial = true;
    out.stream = std::move(gs);
    return out;
}

// ---- A clip whose movie box is lost: its samples found by walking the
// media data, described by a model movie box of the same camera.

// What the model's tracks say the media data holds.
struct Model {
    Kind video = Kind::None;  // Nal or Hevc
    uint8_t length_size = 4;
    uint8_t aac = 0xFF;          // an audio chunk's first 7 bits, 0xFF without an AAC track
    uint64_t audio_reach = 0;    // the longest stretch between video samples, bytes
    uint64_t video_max = 0;      // the largest video sample, bytes
};

bool read_model(const std::vector<uint8_t>& moov, Model& out) {
    std::vector<Sample> all;
    bool ok = each_box(moov.data() + 8, moov.size() - 8, [&](const uint8_t* t, const uint8_t* p, size_t n) {
        return !is(t, "trak") || track_samples(p, n, all);
    });
    if (!ok || all.empty()) return false;
    std::sort(all.begin(), all.end(), [](const Sample& a, const Sample& b) { return a.at < b.at; });
    uint64_t run = 0;
    for (const Sample& x : all) {
        if (x.kind == Kind::Nal || x.kind == Kind::Hevc) {
            if (out.video != Kind::None && (out.video != x.kind || out.length_size != x.arg)) return false;
            out.video = x.kind;
            out.length_size = x.arg;
            out.video_max = std::max(out.video_max, x.size);
            run = 0;
            continue;
        }
        if (x.kind == Kind::Aac) out.aac = x.arg;
        run += x.size;
        out.audio_reach = std::max(out.audio_reach, run);
    }
    return out.video != Kind::None;
}

// Walks length-prefixed NAL units from the start of the media data, each
// access unit a sample, over audio chunks that open as the model's do and
// end where an access unit starts; stops at the first byte nothing accounts for.
class MediaWalk {
public:
    MediaWalk(Source& s, const Model& m, uint64_t end, uint64_t cs) : s_(s), m_(m), end_(end), cs_(cs) {}

    // An access unit is kept once what follows it checks: the next NAL
    // unit, an audio chunk with video after it, or the end.
    std::vector<FoundSample> run(uint64_t from) {
        uint64_t p = from;
        while (p < end_ && out_.size() < kMaxSamples) {
            Nal n;
            if (nal(p, n)) {
                p = video_run(p);
                continue;
            }
            const uint64_t q = after_audio(p, 1, p == from);
            if (q == 0) break;
            close();
            p = q;
        }
        if (p == end_) close();
        return std::move(out_);
    }

private:
    struct Nal {
        uint64_t len = 0;
        bool vcl = false, opens = false, key = false;
    };

    bool get(uint64_t at, uint8_t* b, size_t n) {
        if (at > end_ || n > end_ - at) return false;
        if (at < buf_at_ || at + n > buf_at_ + buf_len_) {
            buf_at_ = at;
            buf_len_ = s_.read(at, buf_, sizeof buf_);
            if (buf_len_ < n) return false;
        }
        std::memcpy(b, buf_ + (at - buf_at_), n);
        return true;
    }

    // A NAL unit at p that fits before the end; `opens`: it may begin an access unit.
    bool nal(uint64_t p, Nal& n) {
        const unsigned L = m_.length_size;
        uint8_t b[16];
        const size_t got = static_cast<size_t>(std::min<uint64_t>(sizeof b, end_ - std::min(end_, p)));
        if (got < L + 3 || !get(p, b, got)) return false;
        n.len = 0;
        for (unsigned i = 0; i < L; ++i) n.len = n.len << 8 | b[i];
        const uint8_t* h = b + L;
        if (n.len < 2 || n.len > end_ - p - L || n.len > 2 * m_.video_max || (h[0] & 0x80)) return false;
        // The slice header's first fields, read as Exp-Golomb codes.
        size_t bit = 0;
        const size_t bits = 8 * std::min<uint64_t>(got - L, n.len);
        auto ue = [&](uint32_t& v) {
            int zeros = 0;
            while (bit < bits && !(h[bit / 8] >> (7 - bit % 8) & 1)) ++zeros, ++bit;
            if (bit >= bits || zeros > 16) return false;
            ++bit;
            v = 0;
            for (int i = 0; i < zeros; ++i, ++bit) {
                if (bit >= bits) return false;
                v = v << 1 | (h[bit / 8] >> (7 - bit % 8) & 1);
            }
            v += (1u << zeros) - 1;
            return true;
        };
        uint32_t first = 0, type = 0, pps = 0;
        if (m_.video == Kind::Nal) {
            const int t = h[0] & 31;
            if (t < 1 || t > 18 || t == 13 || ((h[0] >> 5) == 0 && (t == 5 || t == 7 || t == 8))) return false;
            n.vcl = t <= 5;
            n.key = t == 5;
            bit = 8;
            // A slice: its type one of the ten, an IDR picture's intra, a parameter set named.
            if (n.vcl && (!ue(first) || !ue(type) || type > 9 || (n.key && type % 5 != 2 && type % 5 != 4) ||
                          !ue(pps) || pps > 255))
                return false;
            n.opens = n.vcl ? first == 0 : (t >= 6 && t <= 9) || (t >= 14 && t <= 18);
        } else {
            const int t = h[0] >> 1 & 63;
            if (t >= 48 || (t >= 22 && t <= 31) || (h[0] & 1) || (h[1] & 7) == 0) return false;
            n.vcl = t < 32;
            n.key = t >= 16 && t <= 21;
            bit = 16 + 1 + (t >= 16 && t <= 23 ? 1 : 0);
            if (n.vcl && (!ue(pps) || pps > 63)) return false;
            n.opens = n.vcl ? (h[2] & 0x80) != 0 : (t >= 32 && t <= 35) || t == 39;
        }
        return true;
    }

    // The element an AAC frame of the model's layout opens with; the
    // encoder's first frame may open with a fill element instead.
    bool audio_opens(uint64_t p, bool first) {
        uint8_t b;
        return m_.aac != 0xFF && get(p, &b, 1) && ((b >> 1) == m_.aac || (first && (b >> 5) == 6));
    }

    // An audio chunk at p: the offset where the next access unit opens
    // within the model's reach, 0 when none does. A place where a NAL unit
    // could open one is taken when the units from it run to the end or to
    // another audio chunk after which (`depth` more times) video resumes the
    // same way; a place that fails ends the search unless its units lie
    // within one cluster, so no video a break cut is passed over. The
    // chunk's own bytes prove nothing: it may not hold a cluster boundary
    // when the reach exceeds a cluster (other clusters could lie there).
    uint64_t after_audio(uint64_t p, int depth, bool first = false) {
        if (!audio_opens(p, first)) return 0;
        const uint64_t reach = 2 * m_.audio_reach + 1024;
        for (uint64_t q = p + 1; q < std::min(end_, p + reach) && work_ < kWalkWork; ++q) {
            Nal n;
            ++work_;
            if (!nal(q, n) || !n.opens) continue;
            if (reach >= cs_ && boundaries(p, q + 1, cs_)) return 0;
            uint64_t next = q;
            while (next < end_ && nal(next, n) && work_ < kWalkWork) next += m_.length_size + n.len, work_ += 16;
            if (next == end_ || (depth == 0 ? audio_opens(next, false) : after_audio(next, depth - 1) != 0)) return q;
            // Units that fail without a cluster boundary among them are no
            // video cut by a break: audio bytes that happen to look so.
            if (boundaries(q, next + 1, cs_)) return 0;
        }
        return 0;
    }

    // NAL units from p on, cut into access units; the offset after the last.
    uint64_t video_run(uint64_t p) {
        Nal n;
        while (p < end_ && nal(p, n)) {
            if (n.opens && au_vcl_) close();
            if (!au_open_) au_at_ = p, au_open_ = true;
            au_vcl_ |= n.vcl;
            au_key_ |= n.key;
            p += m_.length_size + n.len;
            au_end_ = p;
        }
        return p;  // a chunk ends with a whole sample, kept once what follows checks
    }

    void close() {
        if (au_open_ && au_vcl_) out_.push_back({au_at_, au_end_ - au_at_, au_key_});
        au_open_ = au_vcl_ = au_key_ = false;
    }

    Source& s_;
    const Model& m_;
    uint64_t end_, cs_;
    uint8_t buf_[65536];
    uint64_t buf_at_ = 0;
    size_t buf_len_ = 0;
    std::vector<FoundSample> out_;
    uint64_t au_at_ = 0, au_end_ = 0;
    bool au_open_ = false, au_vcl_ = false, au_key_ = false;
    uint64_t work_ = 0;  // places looked at while searching past audio
};

// The media data's video samples from its start, with a movie box after
// them built from the model; nothing when no sample is found or the first
// is no random access point.
Stitched modelled_part(std::unique_ptr<GappedStream> gs, const Movie& m, const std::vector<uint8_t>& model,
                       uint64_t max_size, const std::vector<Skip>& skips) {
    Stitched out;
    Model md;
    if (!read_model(model, md)) return out;
    md.audio_reach = std::min<uint64_t>(md.audio_reach, 1u << 20);
    uint8_t h[16];
    if (gs->read(m.mdat_at, h, 16) != 16) return out;
    uint64_t size = rd_be32(h);
    if (m.mdat_header == 16) size = rd_be64(h + 8);
    uint64_t end = size == 0 ? max_size : std::min(max_size, m.mdat_at + size);
    if (!skips.empty()) end = std::min(end, skips.front().cluster * gs->cluster_size());
    if (end <= m.data_start) return out;
    std::vector<FoundSample> found = MediaWalk(*gs, md, end, gs->cluster_size()).run(m.data_start);
    if (found.empty() || !found.front().key) return out;
    const uint64_t cut = found.back().at + found.back().size;
    const uint64_t mdat = cut - m.mdat_at;
    if (m.mdat_header == 8 && mdat > UINT32_MAX) return out;
    std::vector<uint8_t> moov = model_moov(model, found);
    if (moov.empty()) return out;
    std::vector<uint8_t> field;
    for (int s = m.mdat_header == 8 ? 24 : 56; s >= 0; s -= 8) field.push_back(static_cast<uint8_t>(mdat >> s));
    gs->patch(m.mdat_at + (m.mdat_header == 8 ? 0 : 8), field);
    out.length = cut + moov.size();
    gs->set_end(cut, std::move(moov));
    out.partial = true;
    out.stream = std::move(gs);
    return out;
}

}  // namespace

Stitched stitch_iso(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips, WholeFiles* whole) {
    Stitched out;
    if (v.cluster_size == 0) return out;
    FreeStream fs(v, first_cluster, phys);
    Movie m;
    uint64_t work = 0;
    if (!read_layout(fs, v.cluster_size, max_size, m, work)) {
        // Media data without a movie box after it: a model's may describe it.
        const std::vector<uint8_t>* model = whole && m.data_start && m.head_moov.empty() && !m.ftyp.empty()
                                                ? whole->movie_like(m.ftyp)
                                                : nullptr;
        if (!model || m.mdat_header == 0) return out;
        return modelled_part(std::make_unique<GappedStream>(v, first_cluster, phys), m, *model, max_size, skips);
    }
    if (m.end > max_size) return out;
    if (whole && !m.ftyp.empty()) whole->keep_movie(m.ftyp, m.moov.empty() ? m.head_moov : m.moov);
    auto gs = std::make_unique<GappedStream>(v, first_cluster, phys);
    IsoSearch search(*gs, m, skips);
    if (!search.run()) return proven_part(std::move(gs), m, search.proven());
    out.length = m.end;
    out.stream = std::move(gs);
    return out;
}

}  // namespace carver::fs
