// A movie box cut down to the samples a partial ISO media file still holds:
// every track keeps its samples, in decoding order, up to the first that does
// not lie wholly inside the proven media data; its sample table is written
// again with one sample per chunk, so that offsets need no other box.
#include "fs/iso_cut.h"

#include <algorithm>
#include <cstring>

#include "core/source.h"

namespace carver::fs {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxSamples = 1u << 20;  // over all tracks: the tables written stay below 16 MiB

uint64_t be64(const uint8_t* p) { return uint64_t(rd_be32(p)) << 32 | rd_be32(p + 4); }
bool is(const uint8_t* t, const char* s) { return std::memcmp(t, s, 4) == 0; }

void put32(Bytes& o, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) o.push_back(static_cast<uint8_t>(v >> s));
}
void put64(Bytes& o, uint64_t v) {
    put32(o, static_cast<uint32_t>(v >> 32));
    put32(o, static_cast<uint32_t>(v));
}

Bytes box(const char* type, const Bytes& payload) {
    Bytes o;
    put32(o, static_cast<uint32_t>(payload.size() + 8));
    o.insert(o.end(), type, type + 4);
    o.insert(o.end(), payload.begin(), payload.end());
    return o;
}

struct Child {
    const uint8_t* type;
    const uint8_t* p;  // payload
    size_t n;
};

// The boxes tiling [p, p + n), 32-bit sizes only (a movie box's children);
// false when they do not tile it.
bool children(const uint8_t* p, size_t n, std::vector<Child>& out) {
    out.clear();
    for (size_t at = 0; at < n;) {
        if (n - at < 8) return n - at == 4 && rd_be32(p + at) == 0;
        uint64_t size = rd_be32(p + at);
        if (size < 8 || size > n - at) return false;
        out.push_back({p + at + 4, p + at + 8, static_cast<size_t>(size - 8)});
        at += static_cast<size_t>(size);
    }
    return true;
}

const Child* find(const std::vector<Child>& v, const char* t) {
    for (const Child& c : v)
        if (is(c.type, t)) return &c;
    return nullptr;
}

Bytes copy(const Child& c) {
    Bytes o;
    put32(o, static_cast<uint32_t>(c.n + 8));
    o.insert(o.end(), c.type, c.type + 4);
    o.insert(o.end(), c.p, c.p + c.n);
    return o;
}

struct Sample {
    uint64_t at, size;
};

// Every sample's place, in decoding order, from the chunk offsets, the
// samples per chunk and the sizes; false when the tables disagree.
bool sample_places(const Child& stsz, const Child& stsc, const Child& stco, bool wide, std::vector<Sample>& out,
                   size_t& budget) {
    if (stsz.n < 12 || stsc.n < 8 || stco.n < 8) return false;
    uint32_t uniform = rd_be32(stsz.p + 4), count = rd_be32(stsz.p + 8);
    uint32_t entries = rd_be32(stsc.p + 4), chunks = rd_be32(stco.p + 4);
    if (count > budget) return false;
    budget -= count;
    if ((!uniform && (stsz.n - 12) / 4 < count) || (stsc.n - 8) / 12 < entries ||
        (stco.n - 8) / (wide ? 8 : 4) < chunks)
        return false;
    for (uint32_t e = 0; e < entries && out.size() < count; ++e) {
        const uint8_t* x = stsc.p + 8 + 12 * e;
        uint32_t first = rd_be32(x), per = rd_be32(x + 4);
        uint32_t last = e + 1 < entries ? rd_be32(x + 12) : chunks + 1;
        if (first < 1 || last <= first || last > chunks + 1) return false;
        for (uint32_t c = first; c < last && out.size() < count; ++c) {
            const uint8_t* o = stco.p + 8 + (wide ? 8 : 4) * (c - 1);
            uint64_t at = wide ? be64(o) : rd_be32(o);
            for (uint32_t i = 0; i < per && out.size() < count; ++i) {
                uint64_t size = uniform ? uniform : rd_be32(stsz.p + 12 + 4 * uint64_t(out.size()));
                out.push_back({at, size});
                at += size;
            }
        }
    }
    return out.size() == count;
}

// A table of (count, value) runs (time to sample, composition offsets) cut
// after `n` samples; the sum of count x value added to `total` when given.
Bytes cut_runs(const Child& c, uint32_t n, uint64_t* total) {
    Bytes o(c.p, c.p + 4);  // version and flags
    Bytes runs;
    uint32_t kept = 0, written = 0;
    uint32_t entries = c.n >= 8 ? rd_be32(c.p + 4) : 0;
    for (uint32_t e = 0; e < entries && kept < n && 8 + 8 * uint64_t(e) + 8 <= c.n; ++e) {
        uint32_t cnt = std::min(rd_be32(c.p + 8 + 8 * e), n - kept), v = rd_be32(c.p + 12 + 8 * e);
        if (cnt == 0) continue;
        put32(runs, cnt);
        put32(runs, v);
        kept += cnt;
        ++written;
        if (total) *total += uint64_t(cnt) * v;
    }
    put32(o, written);
    o.insert(o.end(), runs.begin(), runs.end());
    return o;
}

// The sample table for the first `n` samples, one per chunk.
Bytes cut_stbl(const std::vector<Child>& kids, const std::vector<Sample>& s, uint32_t n, uint64_t& duration) {
    const Child *stsd = find(kids, "stsd"), *stts = find(kids, "stts"), *ctts = find(kids, "ctts"),
                *stss = find(kids, "stss"), *stsc = find(kids, "stsc");
    Bytes o = copy(*stsd);
    Bytes t = box("stts", cut_runs(*stts, n, &duration));
    o.insert(o.end(), t.begin(), t.end());
    if (ctts) {
        Bytes c = box("ctts", cut_runs(*ctts, n, nullptr));
        o.insert(o.end(), c.begin(), c.end());
    }
    if (stss && stss->n >= 8) {
        Bytes k, p(stss->p, stss->p + 4);
        uint32_t entries = rd_be32(stss->p + 4), kept = 0;
        for (uint32_t e = 0; e < entries && 8 + 4 * uint64_t(e) + 4 <= stss->n; ++e) {
            uint32_t x = rd_be32(stss->p + 8 + 4 * e);
            if (x >= 1 && x <= n) put32(k, x), ++kept;
        }
        put32(p, kept);
        p.insert(p.end(), k.begin(), k.end());
        Bytes b = box("stss", p);
        o.insert(o.end(), b.begin(), b.end());
    }
    Bytes sc, sz, co;
    put32(sc, 0), put32(sc, 1), put32(sc, 1), put32(sc, 1), put32(sc, stsc->n >= 20 ? rd_be32(stsc->p + 16) : 1);
    put32(sz, 0), put32(sz, 0), put32(sz, n);
    put32(co, 0), put32(co, n);
    for (uint32_t i = 0; i < n; ++i) {
        put32(sz, static_cast<uint32_t>(s[i].size));
        put64(co, s[i].at);
    }
    for (const Bytes& b : {box("stsc", sc), box("stsz", sz), box("co64", co)}) o.insert(o.end(), b.begin(), b.end());
    return box("stbl", o);
}

// The track with its samples inside [from, to) only; empty when it keeps none.
Bytes cut_trak(const Child& trak, uint64_t from, uint64_t to, size_t& budget) {
    std::vector<Child> tk, md, mi, st;
    const Child *mdia, *minf, *stbl;
    if (!children(trak.p, trak.n, tk) || !(mdia = find(tk, "mdia")) || !children(mdia->p, mdia->n, md) ||
        !(minf = find(md, "minf")) || !children(minf->p, minf->n, mi) || !(stbl = find(mi, "stbl")) ||
        !children(stbl->p, stbl->n, st))
        return {};
    const Child *stsz = find(st, "stsz"), *stsc = find(st, "stsc"), *stco = find(st, "stco");
    bool wide = !stco;
    if (wide) stco = find(st, "co64");
    std::vector<Sample> s;
    if (!find(st, "stsd") || !find(st, "stts") || !stsz || !stsc || !stco || !sample_places(*stsz, *stsc, *stco, wide, s, budget))
        return {};
    uint32_t n = 0;
    while (n < s.size() && s[n].at >= from && s[n].at <= to && s[n].size <= to - s[n].at) ++n;
    if (n == 0) return {};
    uint64_t duration = 0;
    Bytes new_stbl = cut_stbl(st, s, n, duration);
    auto rebuild = [](const std::vector<Child>& kids, const char* replaced, const Bytes& with, const char* dropped) {
        Bytes o;
        for (const Child& c : kids) {
            if (is(c.type, replaced)) o.insert(o.end(), with.begin(), with.end());
            else if (!dropped || !is(c.type, dropped)) {
                Bytes b = copy(c);
                o.insert(o.end(), b.begin(), b.end());
            }
        }
        return o;
    };
    Bytes new_minf = box("minf", rebuild(mi, "stbl", new_stbl, nullptr));
    Bytes mdia_body = rebuild(md, "minf", new_minf, nullptr);
    // The media header's duration: the kept samples' (version 0: 32 bits at 16 + 8; 1: 64 bits at 24 + 8).
    for (size_t at = 0; at + 8 <= mdia_body.size();) {
        uint32_t size = rd_be32(&mdia_body[at]);
        if (size < 8 || size > mdia_body.size() - at) break;
        if (is(&mdia_body[at + 4], "mdhd") && size >= 36) {
            uint8_t* p = &mdia_body[at + 8];
            if (p[0] == 1 && size >= 44) {
                for (int i = 0; i < 8; ++i) p[24 + i] = static_cast<uint8_t>(duration >> (56 - 8 * i));
            } else if (duration <= UINT32_MAX) {
                for (int i = 0; i < 4; ++i) p[16 + i] = static_cast<uint8_t>(duration >> (24 - 8 * i));
            }
        }
        at += size;
    }
    return box("trak", rebuild(tk, "mdia", box("mdia", mdia_body), "edts"));
}

}  // namespace

std::vector<uint8_t> cut_moov(const std::vector<uint8_t>& moov, uint64_t from, uint64_t to) {
    std::vector<Child> top;
    if (moov.size() < 8 || !is(&moov[4], "moov") || !children(moov.data() + 8, moov.size() - 8, top) ||
        !find(top, "mvhd"))
        return {};
    Bytes body;
    int tracks = 0;
    size_t budget = kMaxSamples;
    for (const Child& c : top) {
        Bytes b = is(c.type, "trak") ? cut_trak(c, from, to, budget) : copy(c);
        tracks += is(c.type, "trak") && !b.empty();
        body.insert(body.end(), b.begin(), b.end());
    }
    return tracks ? box("moov", body) : Bytes{};
}

namespace {

// Sets a duration field of a full box's payload: 32 bits at `v0` for version
// 0, 64 bits at `v1` for version 1.
void set_duration(Bytes& box_bytes, size_t v0, size_t v1, uint64_t d) {
    if (box_bytes.size() < 8 + 4) return;
    uint8_t* p = box_bytes.data() + 8;
    const size_t n = box_bytes.size() - 8;
    if (p[0] == 1 && v1 + 8 <= n) {
        for (int i = 0; i < 8; ++i) p[v1 + i] = static_cast<uint8_t>(d >> (56 - 8 * i));
    } else if (p[0] == 0 && v0 + 4 <= n) {
        d = std::min<uint64_t>(d, UINT32_MAX);
        for (int i = 0; i < 4; ++i) p[v0 + i] = static_cast<uint8_t>(d >> (24 - 8 * i));
    }
}

// A time scale at payload offset 12 (version 0) or 20 (version 1).
uint32_t timescale(const Child& c) {
    size_t at = c.n && c.p[0] == 1 ? 20 : 12;
    return c.n >= at + 4 ? rd_be32(c.p + at) : 0;
}

bool video_entry(const Child& stsd) {
    if (stsd.n < 16) return false;
    const uint8_t* t = stsd.p + 12;
    return is(t, "avc1") || is(t, "avc3") || is(t, "hvc1") || is(t, "hev1");
}

}  // namespace

std::vector<uint8_t> model_moov(const std::vector<uint8_t>& model, const std::vector<FoundSample>& samples) {
    std::vector<Child> top, tk, md, mi, st;
    if (samples.empty() || samples.size() > kMaxSamples || model.size() < 8 || !is(&model[4], "moov") ||
        !children(model.data() + 8, model.size() - 8, top))
        return {};
    const Child* mvhd = find(top, "mvhd");
    if (!mvhd) return {};
    for (const Child& trak : top) {
        const Child *mdia, *minf, *stbl, *stsd, *stts, *mdhd, *tkhd;
        if (!is(trak.type, "trak") || !children(trak.p, trak.n, tk) || !(tkhd = find(tk, "tkhd")) ||
            !(mdia = find(tk, "mdia")) || !children(mdia->p, mdia->n, md) || !(mdhd = find(md, "mdhd")) ||
            !(minf = find(md, "minf")) || !children(minf->p, minf->n, mi) || !(stbl = find(mi, "stbl")) ||
            !children(stbl->p, stbl->n, st) || !(stsd = find(st, "stsd")) || !video_entry(*stsd) ||
            !(stts = find(st, "stts")) || stts->n < 16 || rd_be32(stts->p + 4) == 0)
            continue;
        const uint32_t n = static_cast<uint32_t>(samples.size()), delta = rd_be32(stts->p + 12);
        const uint32_t media_scale = timescale(*mdhd), movie_scale = timescale(*mvhd);
        if (delta == 0 || media_scale == 0 || movie_scale == 0) return {};
        const uint64_t duration = uint64_t(n) * delta;
        const uint64_t movie_duration = duration * movie_scale / media_scale;
        Bytes o = copy(*stsd), t, k, sc, sz, co;
        put32(t, 0), put32(t, 1), put32(t, n), put32(t, delta);
        uint32_t keys = 0;
        for (uint32_t i = 0; i < n; ++i)
            if (samples[i].key) put32(k, i + 1), ++keys;
        Bytes kh;
        put32(kh, 0), put32(kh, keys);
        kh.insert(kh.end(), k.begin(), k.end());
        put32(sc, 0), put32(sc, 1), put32(sc, 1), put32(sc, 1), put32(sc, 1);
        put32(sz, 0), put32(sz, 0), put32(sz, n);
        put32(co, 0), put32(co, n);
        for (const FoundSample& s : samples) {
            if (s.size > UINT32_MAX) return {};
            put32(sz, static_cast<uint32_t>(s.size));
            put64(co, s.at);
        }
        for (const Bytes& b : {box("stts", t), box("stss", kh), box("stsc", sc), box("stsz", sz), box("co64", co)})
            o.insert(o.end(), b.begin(), b.end());
        Bytes new_stbl = box("stbl", o);
        auto rebuild = [](const std::vector<Child>& kids, const char* replaced, const Bytes& with, const char* dropped) {
            Bytes r;
            for (const Child& c : kids) {
                if (is(c.type, replaced)) r.insert(r.end(), with.begin(), with.end());
                else if (!dropped || !is(c.type, dropped)) {
                    Bytes b = copy(c);
                    r.insert(r.end(), b.begin(), b.end());
                }
            }
            return r;
        };
        Bytes new_mdhd = copy(*mdhd), new_tkhd = copy(*tkhd), new_mvhd = copy(*mvhd);
        set_duration(new_mdhd, 16, 24, duration);
        set_duration(new_tkhd, 20, 28, movie_duration);
        set_duration(new_mvhd, 16, 24, movie_duration);
        Bytes new_minf = box("minf", rebuild(mi, "stbl", new_stbl, nullptr));
        std::vector<Child> md2;
        Bytes with_minf = rebuild(md, "minf", new_minf, nullptr);
        if (!children(with_minf.data(), with_minf.size(), md2)) return {};
        Bytes new_mdia = box("mdia", rebuild(md2, "mdhd", new_mdhd, nullptr));
        Bytes trak_body = rebuild(tk, "mdia", new_mdia, "edts");
        std::vector<Child> tk2;
        if (!children(trak_body.data(), trak_body.size(), tk2)) return {};
        Bytes new_trak = box("trak", rebuild(tk2, "tkhd", new_tkhd, nullptr));
        Bytes body = new_mvhd;
        body.insert(body.end(), new_trak.begin(), new_trak.end());
        return box("moov", body);
    }
    return {};
}

}  // namespace carver::fs
