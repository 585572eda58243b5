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

}  // namespace carver::fs
