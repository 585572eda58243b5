#include "fs/stitch.h"

#include "core/format.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include <zlib.h>

namespace carver::fs {

GappedStream::GappedStream(const Volume& v, uint64_t first_cluster, Source& phys)
    : v_(v), free_(v, first_cluster, phys) {}

void GappedStream::set_gap(uint64_t at, uint64_t clusters) {
    while (!gaps_.empty() && gaps_.back().at >= at) gaps_.pop_back();
    if (clusters) gaps_.push_back({at, clusters});
}

void GappedStream::set_end(uint64_t at, std::vector<uint8_t> tail) {
    end_ = at;
    tail_ = std::move(tail);
}

uint64_t GappedStream::to_stream(uint64_t off, uint64_t& room) const {
    uint64_t skip = 0;
    room = UINT64_MAX;
    for (const Gap& g : gaps_) {
        if (g.at > off) {
            room = g.at - off;
            break;
        }
        skip += g.clusters * v_.cluster_size;
    }
    return off + skip;
}

size_t GappedStream::read(uint64_t off, void* buf, size_t n) {
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        uint64_t at = off + done;
        if (at >= end_) {
            uint64_t i = at - end_;
            if (i >= tail_.size()) break;
            size_t take = std::min<size_t>(n - done, tail_.size() - static_cast<size_t>(i));
            std::memcpy(out + done, tail_.data() + i, take);
            done += take;
            continue;
        }
        uint64_t room;
        uint64_t s = to_stream(at, room);
        size_t take = static_cast<size_t>(std::min<uint64_t>({n - done, room, end_ - at}));
        size_t got = free_.read(s, out + done, take);
        done += got;
        if (got < take) break;
    }
    for (const auto& [at, bytes] : patches_)
        for (size_t i = 0; i < bytes.size(); ++i)
            if (at + i >= off && at + i < off + done) out[at + i - off] = bytes[i];
    return done;
}

void GappedStream::for_each_piece(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn) {
    length = std::min(length, end_);
    for (uint64_t at = 0; at < length;) {
        uint64_t room;
        uint64_t s = to_stream(at, room);
        uint64_t take = std::min(room, length - at);
        free_.for_each_piece(s, s + take, fn);
        at += take;
    }
}

namespace {

// ---- Baseline JPEG: headers, then a Huffman decoder that checks every block.

struct Huff {
    int32_t maxcode[18] = {};
    int32_t valptr[17] = {};
    int32_t mincode[17] = {};
    uint8_t vals[256] = {};
    bool present = false;

    bool build(const uint8_t* counts, const uint8_t* v, int total) {
        if (total > 256) return false;
        std::memcpy(vals, v, static_cast<size_t>(total));
        int32_t code = 0, k = 0;
        for (int l = 1; l <= 16; ++l) {
            valptr[l] = k;
            mincode[l] = code;
            code += counts[l - 1];
            k += counts[l - 1];
            maxcode[l] = counts[l - 1] ? code - 1 : -1;
            if (code > (1 << l)) return false;  // over-subscribed
            code <<= 1;
        }
        maxcode[17] = INT32_MAX;
        present = true;
        return true;
    }

    // One symbol, its code read a bit at a time from `bit(int&)`; false at
    // the data's end or for a code the table does not have.
    template <class BitSource>
    bool decode(BitSource&& bit, int& value) const {
        int32_t code = 0;
        for (int l = 1; l <= 16; ++l) {
            int b;
            if (!bit(b)) return false;
            code = (code << 1) | b;
            if (code <= maxcode[l]) {
                int32_t i = valptr[l] + code - mincode[l];
                if (i < 0 || i > 255) return false;
                value = vals[i];
                return true;
            }
        }
        return false;  // no such code
    }
};

struct Component {
    int id = 0, h = 1, v = 1, td = 0, ta = 0;
};

struct Frame {
    Huff dc[4], ac[4];
    std::vector<Component> comps;
    int hmax = 1, vmax = 1;
    uint32_t width = 0, height = 0, restart = 0;
    uint64_t scan_start = 0;
    uint64_t total_mcus = 0;
};

// Reads the markers up to the first scan. Only single-scan baseline or
// extended Huffman frames are accepted: their one scan holds every block.
// Component `i` of a frame header's payload `p`: its id and sampling factors (1 to 4).
template <class C>
bool frame_component(const uint8_t* p, int i, C& k) {
    k.id = p[6 + 3 * i];
    k.h = p[7 + 3 * i] >> 4;
    k.v = p[7 + 3 * i] & 15;
    return k.h >= 1 && k.h <= 4 && k.v >= 1 && k.v <= 4;
}

bool parse_headers(Source& src, uint64_t max_size, Frame& f) {
    Cursor c(src, max_size);
    uint16_t soi;
    if (!c.be16(soi) || soi != 0xFFD8) return false;
    bool frame = false;
    for (;;) {
        uint8_t b, m;
        if (!c.u8(b) || b != 0xFF) return false;
        do {
            if (!c.u8(m)) return false;
        } while (m == 0xFF);
        uint16_t len;
        if (!c.be16(len) || len < 2) return false;
        std::vector<uint8_t> seg(len - 2u);
        if (!c.bytes(seg.data(), seg.size())) return false;
        const uint8_t* p = seg.data();
        size_t n = seg.size();
        if (m == 0xC4) {
            for (size_t at = 0; at < n;) {
                if (at + 17 > n) return false;
                int cls = p[at] >> 4, id = p[at] & 15, total = 0;
                for (int i = 0; i < 16; ++i) total += p[at + 1 + i];
                if (cls > 1 || id > 3 || at + 17 + static_cast<size_t>(total) > n) return false;
                Huff& h = cls ? f.ac[id] : f.dc[id];
                if (!h.build(p + at + 1, p + at + 17, total)) return false;
                at += 17 + static_cast<size_t>(total);
            }
        } else if (m == 0xC0 || m == 0xC1) {
            if (n < 6 || p[0] != 8) return false;
            f.height = rd_be16(p + 1);
            f.width = rd_be16(p + 3);
            int nc = p[5];
            if (nc < 1 || nc > 4 || n < 6 + 3u * nc || f.width == 0 || f.height == 0) return false;
            for (int i = 0; i < nc; ++i) {
                Component k;
                if (!frame_component(p, i, k)) return false;
                f.hmax = std::max(f.hmax, k.h);
                f.vmax = std::max(f.vmax, k.v);
                f.comps.push_back(k);
            }
            frame = true;
        } else if (m >= 0xC2 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            return false;  // progressive, lossless or arithmetic: not decoded here
        } else if (m == 0xDD) {
            if (n < 2) return false;
            f.restart = rd_be16(p);
        } else if (m == 0xDA) {
            if (!frame || n < 1 || p[0] != f.comps.size() || n < 1 + 2u * p[0]) return false;
            for (size_t i = 0; i < f.comps.size(); ++i) {
                Component& k = f.comps[i];
                if (p[1 + 2 * i] != k.id) return false;
                k.td = p[2 + 2 * i] >> 4;
                k.ta = p[2 + 2 * i] & 15;
                if (k.td > 3 || k.ta > 3 || !f.dc[k.td].present || !f.ac[k.ta].present) return false;
            }
            if (f.comps.size() == 1) {  // one component: blocks, not MCUs of the sampling factors
                f.comps[0].h = f.comps[0].v = 1;
                f.total_mcus = uint64_t((f.width + 7) / 8) * ((f.height + 7) / 8);
            } else {
                f.total_mcus = uint64_t((f.width + 8 * f.hmax - 1) / (8 * f.hmax)) *
                               ((f.height + 8 * f.vmax - 1) / (8 * f.vmax));
            }
            f.scan_start = c.pos();
            return true;
        } else if (m == 0xD9 || m == 0xD8 || m < 0xC0) {
            return false;
        }
    }
}

struct State {
    uint64_t pos = 0;  // next byte to fetch
    uint32_t acc = 0;
    int nbits = 0;
    int dc[4] = {};
    uint64_t mcu = 0;
    unsigned rst = 0;
};

enum class Run { Done, Bad, Horizon };

class Decoder {
public:
    Decoder(Source& s, const Frame& f, uint64_t limit) : src_(s), f_(f), limit_(limit) {}
    void invalidate() { cache_len_ = 0; }
    uint64_t bytes_fetched() const { return fetched_; }

    // Decodes from `st` until the end marker (Done, st.pos after it), an
    // error (Bad, st.pos where it showed) or st.pos passing `horizon`.
    template <class OnMcu> Run run(State& st, uint64_t horizon, OnMcu&& on_mcu) {
        while (st.mcu < f_.total_mcus) {
            if (st.pos >= horizon) return Run::Horizon;
            if (f_.restart && st.mcu && st.mcu % f_.restart == 0) {
                st.nbits = 0;
                if (!marker(st, static_cast<uint8_t>(0xD0 + (st.rst & 7)))) return Run::Bad;
                ++st.rst;
                std::fill(std::begin(st.dc), std::end(st.dc), 0);
            }
            on_mcu(st);
            for (size_t i = 0; i < f_.comps.size(); ++i) {
                const Component& k = f_.comps[i];
                for (int b = 0; b < k.h * k.v; ++b)
                    if (!block(st, k, st.dc[i])) return Run::Bad;
            }
            ++st.mcu;
        }
        st.nbits = 0;
        return marker(st, 0xD9) ? Run::Done : Run::Bad;
    }

private:
    bool byte(uint64_t at, uint8_t& b) {
        if (at >= limit_) return false;
        if (at < cache_at_ || at >= cache_at_ + cache_len_) {
            cache_at_ = at;
            cache_len_ = src_.read(at, cache_, sizeof cache_);
            fetched_ += cache_len_;
            if (cache_len_ == 0) return false;
        }
        b = cache_[at - cache_at_];
        return true;
    }

    // Fill bytes, then FF m.
    bool marker(State& st, uint8_t m) {
        uint8_t b;
        if (!byte(st.pos, b) || b != 0xFF) return false;
        do {
            if (!byte(++st.pos, b)) return false;
        } while (b == 0xFF);
        ++st.pos;
        return b == m;
    }

    bool bit(State& st, int& out) {
        if (st.nbits == 0) {
            uint8_t b;
            if (!byte(st.pos, b)) return false;
            if (b == 0xFF) {
                uint8_t z;
                if (!byte(st.pos + 1, z) || z != 0) return false;  // a marker inside the data
                st.pos += 2;
            } else {
                st.pos += 1;
            }
            st.acc = b;
            st.nbits = 8;
        }
        --st.nbits;
        out = (st.acc >> st.nbits) & 1;
        return true;
    }

    bool decode(State& st, const Huff& h, int& value) {
        return h.decode([&](int& b) { return bit(st, b); }, value);
    }

    bool receive(State& st, int s, int& v) {
        int32_t x = 0;
        for (int i = 0; i < s; ++i) {
            int b;
            if (!bit(st, b)) return false;
            x = (x << 1) | b;
        }
        v = s && x < (1 << (s - 1)) ? x - (1 << s) + 1 : x;
        return true;
    }

    bool block(State& st, const Component& k, int& dc) {
        int t, diff;
        if (!decode(st, f_.dc[k.td], t) || t > 11 || !receive(st, t, diff)) return false;
        dc += diff;
        if (dc < -2048 * 8 || dc > 2047 * 8) return false;
        for (int i = 1; i < 64;) {
            int rs, v;
            if (!decode(st, f_.ac[k.ta], rs)) return false;
            int r = rs >> 4, s = rs & 15;
            if (s == 0) {
                if (r != 15) break;  // end of block
                i += 16;
                if (i > 63) return false;
                continue;
            }
            i += r;
            if (i > 63 || s > 10 || !receive(st, s, v)) return false;
            ++i;
        }
        return true;
    }

    Source& src_;
    const Frame& f_;
    uint64_t limit_;
    uint8_t cache_[1024];
    uint64_t cache_at_ = 0;
    size_t cache_len_ = 0;
    uint64_t fetched_ = 0;
};

constexpr uint64_t kLag = 8192;          // how far past a break an error may show, at most
constexpr uint64_t kMaxGapClusters = 4096;
constexpr int kMaxGaps = 128;  // files written in alternation with others lie in that many pieces
constexpr uint64_t kWorkBytes = 32u << 20;  // bytes fetched per file, all hypotheses together

}  // namespace

namespace {

// Depth-first search over breaks: at each break, the continuations that
// decode cleanly for a while are tried smallest gap first; a wrong one shows
// later (a wrong block count at the end marker) and the next is tried.
class JpegSearch {
public:
    JpegSearch(GappedStream& gs, const Frame& f, uint64_t max_size, WholeFiles* whole)
        : gs_(gs), f_(f), d_(gs, f, max_size), cs_(gs.cluster_size()), whole_(whole) {}

    // True with end() set when the whole file decodes; otherwise proven()
    // is where the data decoded without any gap stops being certain.
    bool solve(State st, uint64_t committed, int depth) {
        std::deque<State> marks;  // the first MCU start in each cluster
        Run r = d_.run(st, UINT64_MAX, [&](const State& s) {
            if (marks.empty() || marks.back().pos / cs_ != s.pos / cs_) marks.push_back(s);
        });
        if (r == Run::Done) {
            end_ = st.pos;
            return true;
        }
        uint64_t fail = st.pos;
        uint64_t lowest = std::max(committed, fail > kLag ? fail - kLag : 0);
        if (depth == 0) proven_ = proven_before(fail, lowest);
        if (depth >= kMaxGaps) return false;
        // A stuffed 0xFF is checked against the byte after it: an error
        // shown at the last byte of a cluster may come from the next one.
        for (uint64_t b = (fail + 1) / cs_ * cs_; b > lowest && b >= cs_; b -= cs_) {
            auto cp = std::find_if(marks.rbegin(), marks.rend(), [&](const State& s) { return s.pos < b; });
            if (cp == marks.rend()) break;
            std::vector<uint64_t> tried;
            for (uint64_t g = first_gap(b); g <= kMaxGapClusters && tried.size() < 4 && d_.bytes_fetched() < kWorkBytes;
                 ++g) {
                gs_.set_gap(b, g);
                d_.invalidate();
                uint8_t probe;
                if (gs_.read(b, &probe, 1) == 0) break;  // no free clusters left
                if (uint64_t n = whole_ ? whole_->clusters_at(gs_.free_stream(), gs_.stream_offset(b), cs_) : 0) {
                    g += n - 1;  // another file lies there whole: not a continuation
                    continue;
                }
                State t = *cp;
                Run r2 = d_.run(t, b + kSurvive, [](const State&) {});
                if (r2 == Run::Bad && t.pos < b + kSurvive) continue;
                tried.push_back(g);
                if (solve(*cp, b, depth + 1)) return true;
                gs_.set_gap(b, g);  // the deeper search changed the later gaps
            }
            gs_.set_gap(b, 0);
            d_.invalidate();
        }
        return false;
    }
    uint64_t end() const { return end_; }
    uint64_t proven() const { return proven_; }

    // The smallest gap at boundary `b` worth trying: a file lying whole right
    // there is another file's.
    uint64_t first_gap(uint64_t b) {
        if (!whole_) return 1;
        gs_.set_gap(b, 0);
        return std::max<uint64_t>(1, whole_->clusters_at(gs_.free_stream(), gs_.stream_offset(b), cs_));
    }

    // Every byte before the first boundary a break may lie at, in (lowest,
    // fail], is the file's own; an error further than that from any boundary
    // comes from a break before the last one. The first cluster is the file's.
    uint64_t proven_before(uint64_t fail, uint64_t lowest) const {
        if (fail < cs_) return fail;
        uint64_t first = (lowest / cs_ + 1) * cs_;
        return first <= fail ? first : fail / cs_ * cs_;
    }

private:
    static constexpr uint64_t kSurvive = 2048;  // clean decoding that makes a continuation worth following

    GappedStream& gs_;
    const Frame& f_;
    Decoder d_;
    uint64_t cs_;
    WholeFiles* whole_;
    uint64_t end_ = 0, proven_ = 0;
};

// A source reading another from an offset on.
class Shifted final : public Source {
public:
    Shifted(Source& s, uint64_t from) : s_(s), from_(from) {}
    size_t read(uint64_t off, void* buf, size_t n) override { return s_.read(from_ + off, buf, n); }

private:
    Source& s_;
    uint64_t from_;
};

// The length of a baseline JPEG whose data decodes to its end marker, 0 when
// it does not; `work` grows with the bytes read.
uint64_t decoded_length(Source& src, uint64_t limit, uint64_t& work) {
    Frame f;
    if (!parse_headers(src, limit, f) || f.total_mcus == 0) return 0;
    Decoder d(src, f, limit);
    State st;
    st.pos = f.scan_start;
    Run r = d.run(st, UINT64_MAX, [](const State&) {});
    work += d.bytes_fetched();
    return r == Run::Done ? st.pos : 0;
}


}  // namespace

namespace {

// ---- Any JPEG whose first scan the baseline decoder does not take
// (progressive, several scans, lossless, arithmetic): its head up to the
// last scan that checks.

constexpr uint64_t kMaxHistoryBlocks = 2u << 20;  // 8 bytes each: refinement scans of larger pictures are not checked
constexpr uint64_t kMaxBlockVisits = 64u << 20;   // MCUs or blocks over all scans of a file

class ScanHead {
public:
    ScanHead(Source& s, uint64_t limit, uint64_t sure) : src_(s), limit_(limit), sure_(sure) {}

    // The offset of the marker after the last scan that checked, 0 when none did.
    uint64_t run() {
        uint64_t pos = 0, cut = 0;
        uint8_t h[2];
        if (!get(pos, h, 2) || h[0] != 0xFF || h[1] != 0xD8) return 0;
        pos = 2;
        for (;;) {
            uint8_t m;
            if (!marker_at(pos, m)) return cut;
            if (m == 0xD9) return cut;
            if (m < 0xC0 || m == 0xD8 || (m >= 0xD0 && m <= 0xD7) || m == 0xDC) return cut;
            uint8_t lb[2];
            if (!get(pos, lb, 2)) return cut;
            const uint32_t len = uint32_t(lb[0]) << 8 | lb[1];
            if (len < 2) return cut;
            seg_.resize(len - 2u);
            if (!get(pos + 2, seg_.data(), seg_.size())) return cut;
            pos += len;
            const uint8_t* p = seg_.data();
            const size_t n = seg_.size();
            if (m == 0xC4) {
                if (!tables(p, n)) return cut;
            } else if (m >= 0xC0 && m <= 0xCF && m != 0xC8 && m != 0xCC) {
                if (frame_ || !sof(m, p, n)) return cut;
            } else if (m == 0xDD) {
                if (n < 2) return cut;
                restart_ = uint32_t(p[0]) << 8 | p[1];
            } else if (m == 0xDA) {
                uint64_t end = scan(p, n, pos);
                if (!end) return cut;
                pos = cut = end;
            }
        }
    }

private:
    struct Comp {
        int id = 0, h = 1, v = 1, td = 0, ta = 0, dc = 0;
        uint64_t bw = 0, bh = 0;        // blocks with data
        uint64_t stride = 0, rows = 0;  // blocks the interleaved MCUs cover
        size_t history = 0;             // first word of its coefficient history
    };

    bool get(uint64_t at, uint8_t* b, size_t n) {
        if (at > limit_ || n > limit_ - at) return false;
        if (n == 0) return true;  // an empty segment: nothing to copy (b may be null)
        if (n > sizeof cache_) return src_.read(at, b, n) == n;
        if (at < cache_at_ || at + n > cache_at_ + cache_len_) {
            cache_at_ = at;
            cache_len_ = src_.read(at, cache_, sizeof cache_);
            if (cache_len_ < n) return false;
        }
        std::memcpy(b, cache_ + (at - cache_at_), n);
        return true;
    }

    // FF (fill FFs) m at pos; pos then after m.
    bool marker_at(uint64_t& pos, uint8_t& m) {
        uint8_t b;
        if (!get(pos, &b, 1) || b != 0xFF) return false;
        do {
            if (!get(++pos, &b, 1)) return false;
        } while (b == 0xFF);
        ++pos;
        m = b;
        return true;
    }

    bool tables(const uint8_t* p, size_t n) {
        if (!n) return false;
        for (size_t at = 0; at < n;) {
            if (at + 17 > n) return false;
            int cls = p[at] >> 4, id = p[at] & 15, total = 0;
            for (int i = 0; i < 16; ++i) total += p[at + 1 + i];
            if (cls > 1 || id > 3 || at + 17 + static_cast<size_t>(total) > n) return false;
            if (!(cls ? ac_[id] : dc_[id]).build(p + at + 1, p + at + 17, total)) return false;
            at += 17 + static_cast<size_t>(total);
        }
        return true;
    }

    bool sof(uint8_t m, const uint8_t* p, size_t n) {
        if (n < 6) return false;
        const uint32_t height = uint32_t(p[1]) << 8 | p[2], width = uint32_t(p[3]) << 8 | p[4];
        const int nc = p[5];
        if (nc < 1 || nc > 4 || n != 6 + 3u * nc || width == 0 || height == 0) return false;
        // Huffman coding, 8 bits: decoded; anything else only by its markers.
        decodable_ = (m == 0xC0 || m == 0xC1 || m == 0xC2) && p[0] == 8;
        progressive_ = m == 0xC2;
        for (int i = 0; i < nc; ++i) {
            Comp k;
            if (!frame_component(p, i, k)) return false;
            hmax_ = std::max(hmax_, k.h);
            vmax_ = std::max(vmax_, k.v);
            comps_.push_back(k);
        }
        mcux_ = (width + 8 * hmax_ - 1) / (8 * hmax_);
        mcuy_ = (height + 8 * vmax_ - 1) / (8 * vmax_);
        uint64_t blocks = 0;
        for (Comp& k : comps_) {
            k.bw = (uint64_t(width) * k.h + 8 * hmax_ - 1) / (8 * hmax_);
            k.bh = (uint64_t(height) * k.v + 8 * vmax_ - 1) / (8 * vmax_);
            k.stride = mcux_ * k.h;
            k.rows = mcuy_ * k.v;
            k.history = static_cast<size_t>(blocks);
            blocks += k.stride * k.rows;
        }
        if (progressive_ && blocks <= kMaxHistoryBlocks) nonzero_.assign(static_cast<size_t>(blocks), 0);
        frame_ = true;
        return true;
    }

    // The scan whose header is p[0, n) and whose data starts at `data`: the
    // offset of the marker after its data when every block decodes, else 0.
    uint64_t scan(const uint8_t* p, size_t n, uint64_t data) {
        if (!frame_ || n < 4 || p[0] < 1 || p[0] > 4 || n != 4 + 2u * p[0]) return 0;
        std::vector<Comp*> in;
        for (int i = 0; i < p[0]; ++i) {
            auto it = std::find_if(comps_.begin(), comps_.end(), [&](const Comp& k) { return k.id == p[1 + 2 * i]; });
            if (it == comps_.end() || std::find(in.begin(), in.end(), &*it) != in.end()) return 0;
            it->td = p[2 + 2 * i] >> 4;
            it->ta = p[2 + 2 * i] & 15;
            if (it->td > 3 || it->ta > 3) return 0;
            in.push_back(&*it);
        }
        ss_ = p[1 + 2 * in.size()], se_ = p[2 + 2 * in.size()];
        ah_ = p[3 + 2 * in.size()] >> 4, al_ = p[3 + 2 * in.size()] & 15;
        if (!decodable_) {
            // Nothing checks its data: only a scan ending in the bytes known to be the file's.
            return next_marker(data);
        }
        if (progressive_) {
            if (ss_ > se_ || se_ > 63 || al_ > 13 || (ah_ && ah_ != al_ + 1) || (ss_ == 0) != (se_ == 0) ||
                (ss_ && in.size() != 1))
                return 0;
            if (ss_ && ah_ && nonzero_.empty()) return 0;  // refinement without the history to check it
        } else if (ss_ != 0 || se_ != 63 || ah_ || al_) {
            return 0;
        }
        for (Comp* k : in) {
            k->dc = 0;
            bool dc = ss_ == 0 && ah_ == 0, ac = se_ > 0;
            if ((dc && !dc_[k->td].present) || (ac && !ac_[k->ta].present)) return 0;
        }
        pos_ = data, nbits_ = 0, eobrun_ = 0;
        unsigned rst = 0;
        uint64_t units = in.size() == 1 ? in[0]->bw * in[0]->bh : mcux_ * mcuy_;
        // Runs of empty blocks cost no bytes: the blocks visited are bounded instead.
        if (units > kMaxBlockVisits - std::min(visits_, kMaxBlockVisits)) return 0;
        visits_ += units;
        for (uint64_t u = 0; u < units; ++u) {
            if (restart_ && u && u % restart_ == 0) {
                nbits_ = 0;
                uint8_t m;
                if (eobrun_ || !marker_at(pos_, m) || m != 0xD0 + (rst++ & 7)) return 0;
                for (Comp* k : in) k->dc = 0;
            }
            if (in.size() == 1) {
                Comp& k = *in[0];
                if (!block(k, (u / k.bw) * k.stride + u % k.bw)) return 0;
                continue;
            }
            const uint64_t mx = u % mcux_, my = u / mcux_;
            for (Comp* k : in)
                for (int y = 0; y < k->v; ++y)
                    for (int x = 0; x < k->h; ++x)
                        if (!block(*k, (my * k->v + y) * k->stride + mx * k->h + x)) return 0;
        }
        if (eobrun_) return 0;  // a run of empty blocks past the scan's end
        uint64_t at = pos_;
        uint8_t m;
        if (!marker_at(at, m) || m == 0 || (m >= 0xD0 && m <= 0xD7)) return 0;
        return pos_;
    }

    // The offset of the next marker that is not a stuffed byte or a restart.
    uint64_t next_marker(uint64_t at) {
        uint8_t b[2];
        for (; at + 2 <= sure_ && get(at, b, 2); ++at)
            if (b[0] == 0xFF && b[1] != 0 && b[1] != 0xFF && !(b[1] >= 0xD0 && b[1] <= 0xD7)) return at;
        return 0;
    }

    bool bit(int& out) {
        if (nbits_ == 0) {
            uint8_t b[2];
            if (!get(pos_, b, 1)) return false;
            if (b[0] == 0xFF) {
                if (!get(pos_ + 1, b + 1, 1) || b[1] != 0) return false;  // a marker inside the data
                pos_ += 2;
            } else {
                pos_ += 1;
            }
            acc_ = b[0];
            nbits_ = 8;
        }
        --nbits_;
        out = (acc_ >> nbits_) & 1;
        return true;
    }

    bool bits(int s, int32_t& v) {
        v = 0;
        for (int i = 0; i < s; ++i) {
            int b;
            if (!bit(b)) return false;
            v = v << 1 | b;
        }
        return true;
    }

    bool decode(const Huff& h, int& value) {
        return h.decode([&](int& b) { return bit(b); }, value);
    }

    // One block of the scan; `index` is its place in the component's grid.
    bool block(Comp& k, uint64_t index) {
        uint64_t* nz = nonzero_.empty() ? nullptr : &nonzero_[k.history + static_cast<size_t>(index)];
        int32_t v;
        if (ss_ == 0) {
            if (ah_) return bits(1, v);
            int t;
            if (!decode(dc_[k.td], t) || t > 11 || !bits(t, v)) return false;
            if (!progressive_) return sequential_ac(k);
            return true;
        }
        if (ah_ == 0) {  // first pass over these coefficients
            if (eobrun_) return --eobrun_, true;
            for (int i = ss_; i <= se_; ++i) {
                int rs;
                if (!decode(ac_[k.ta], rs)) return false;
                const int r = rs >> 4, s = rs & 15;
                if (s) {
                    i += r;
                    if (i > se_ || s > 14 || !bits(s, v)) return false;
                    if (nz) *nz |= uint64_t(1) << i;
                } else if (r == 15) {
                    i += 15;
                    if (i > se_) return false;
                } else {
                    if (!bits(r, v)) return false;
                    eobrun_ = (uint32_t(1) << r) + static_cast<uint32_t>(v) - 1;
                    return true;
                }
            }
            return true;
        }
        // Refinement: a bit for each coefficient already nonzero, new ones of magnitude 1.
        int i = ss_;
        if (eobrun_ == 0) {
            for (; i <= se_; ++i) {
                int rs;
                if (!decode(ac_[k.ta], rs)) return false;
                int r = rs >> 4;
                const int s = rs & 15;
                if (s) {
                    if (s != 1 || !bits(1, v)) return false;
                } else if (r != 15) {
                    if (!bits(r, v)) return false;
                    eobrun_ = (uint32_t(1) << r) + static_cast<uint32_t>(v);
                    break;
                }
                for (; i <= se_; ++i) {
                    if (*nz >> i & 1) {
                        if (!bits(1, v)) return false;
                    } else if (--r < 0) {
                        break;
                    }
                }
                if (s) {
                    if (i > se_) return false;
                    *nz |= uint64_t(1) << i;
                } else if (i > se_) {
                    return false;  // a zero run past the band
                }
            }
        }
        if (eobrun_) {
            for (; i <= se_; ++i)
                if ((*nz >> i & 1) && !bits(1, v)) return false;
            --eobrun_;
        }
        return true;
    }

    bool sequential_ac(const Comp& k) {
        for (int i = 1; i < 64;) {
            int rs;
            int32_t v;
            if (!decode(ac_[k.ta], rs)) return false;
            const int r = rs >> 4, s = rs & 15;
            if (s == 0) {
                if (r != 15) return true;
                i += 16;
                if (i > 63) return false;
                continue;
            }
            i += r;
            if (i > 63 || s > 10 || !bits(s, v)) return false;
            ++i;
        }
        return true;
    }

    Source& src_;
    uint64_t limit_, sure_;
    uint8_t cache_[4096];
    uint64_t cache_at_ = 0;
    size_t cache_len_ = 0;
    std::vector<uint8_t> seg_;
    Huff dc_[4], ac_[4];
    std::vector<Comp> comps_;
    std::vector<uint64_t> nonzero_;  // per block: the coefficients made nonzero so far
    bool frame_ = false, decodable_ = false, progressive_ = false;
    int hmax_ = 1, vmax_ = 1;
    uint64_t mcux_ = 0, mcuy_ = 0, visits_ = 0;
    uint32_t restart_ = 0, eobrun_ = 0;
    int ss_ = 0, se_ = 0, ah_ = 0, al_ = 0;
    uint64_t pos_ = 0;
    uint32_t acc_ = 0;
    int nbits_ = 0;
};

}  // namespace

uint64_t jpeg_scans_head(Source& src, uint64_t limit, uint64_t sure) { return ScanHead(src, limit, sure).run(); }

uint64_t WholeFiles::clusters_at(FreeStream& fs, uint64_t at, uint64_t cluster_size) {
    uint64_t abs = UINT64_MAX;
    fs.for_each_piece(at, at + 1, [&](uint64_t from, uint64_t) { abs = from; });
    if (abs == UINT64_MAX) return 0;
    auto in = taken_.upper_bound(abs);
    if (in != taken_.begin() && std::prev(in)->second > abs)
        return (std::prev(in)->second - abs + cluster_size - 1) / cluster_size;
    auto known = known_.find(abs);
    if (known != known_.end()) return known->second;
    if (work_ >= kWork || known_.size() >= (1u << 20)) return 0;
    constexpr uint64_t kLimit = 256u << 20;  // no longer file is read to prove it whole
    Shifted src(fs, at);
    uint8_t head[512];
    size_t n = src.read(0, head, sizeof head);
    uint64_t length = 0;
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        length = decoded_length(src, kLimit, work_);
    } else {
        for (const Format* f : all_formats()) {
            if (f->key == "txt" || !f->walk) continue;
            bool opens = std::any_of(f->signatures.begin(), f->signatures.end(), [&](std::string_view sig) {
                return !sig.empty() && sig.size() <= n && std::memcmp(head, sig.data(), sig.size()) == 0;
            });
            if (!opens || (f->check && !f->check(head, n))) continue;
            Carve cv = f->walk(src, kLimit);
            work_ += cv.length + 4096;
            if (cv.length && !cv.claimed) {
                length = cv.length;
                break;
            }
        }
    }
    uint64_t clusters = (length + cluster_size - 1) / cluster_size;
    known_[abs] = clusters;
    return clusters;
}

void WholeFiles::take(uint64_t from, uint64_t to) {
    if (from < to && taken_.size() < kMaxTaken) taken_[from] = std::max(taken_[from], to);
}

namespace {

// The head of a JPEG the baseline search does not decode: up to the last
// scan that checks before another deleted file starts, closed with an end marker.
Stitched scans_head(std::unique_ptr<GappedStream> gs, uint64_t max_size, const std::vector<Skip>& skips) {
    Stitched out;
    const uint64_t cs = gs->cluster_size();
    uint64_t limit = max_size;
    if (!skips.empty()) limit = std::min(limit, skips.front().cluster * cs);
    uint64_t cut = jpeg_scans_head(*gs, limit, std::min(limit, cs));
    if (cut == 0) return out;
    gs->set_end(cut, {0xFF, 0xD9});
    out.length = cut + 2;
    out.partial = true;
    out.stream = std::move(gs);
    return out;
}

}  // namespace

Stitched stitch_jpeg(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size, WholeFiles* whole,
                     const std::vector<Skip>& skips) {
    Stitched out;
    auto gs = std::make_unique<GappedStream>(v, first_cluster, phys);
    Frame f;
    if (!parse_headers(*gs, max_size, f) || f.total_mcus == 0) return scans_head(std::move(gs), max_size, skips);
    JpegSearch search(*gs, f, max_size, whole);
    State st;
    st.pos = f.scan_start;
    if (search.solve(st, f.scan_start, 0)) {
        out.length = search.end();
        out.stream = std::move(gs);
        return out;
    }
    // The visible part: what precedes the earliest place the first break can be.
    uint64_t proven = search.proven();
    if (proven <= f.scan_start) return out;
    gs->set_gap(0, 0);
    gs->set_end(proven, {0xFF, 0xD9});
    out.length = proven + 2;
    out.partial = true;
    out.stream = std::move(gs);
    return out;
}

std::vector<Skip> deleted_skips(const Map& map, const Volume& v, uint64_t first_cluster, Source& phys,
                                uint64_t horizon) {
    std::vector<Skip> out;
    const auto& entries = map.entries();
    const uint64_t cs = v.cluster_size;
    FreeStream fs(v, first_cluster, phys);
    uint64_t stream_at = 0;
    fs.for_each_piece(0, horizon, [&](uint64_t from, uint64_t to) {
        auto it = std::lower_bound(entries.begin(), entries.end(), from,
                                   [](const DeletedEntry& e, uint64_t a) { return e.start < a; });
        for (; it != entries.end() && it->start < to && out.size() < 4096; ++it) {
            uint64_t s = stream_at + (it->start - from);
            if (s == 0 || s % cs || it->size == 0) continue;
            if (!out.empty() && out.back().cluster == s / cs) continue;
            out.push_back({s / cs, (it->size + cs - 1) / cs});
        }
        stream_at += to - from;
    });
    return out;
}

namespace {

constexpr size_t kMaxSkipsTried = 10;  // subsets of at most this many skips: 1024 hypotheses a unit

// Tries the unit at `at` with subsets of the skips that lie after
// `committed` and could fall inside it; true with the gaps left set.
bool try_skips(GappedStream& gs, Units& units, const std::vector<Skip>& skips, uint64_t committed, uint64_t at,
               uint64_t span, uint64_t& next, Units::Result& r, uint64_t& work, uint64_t work_limit) {
    const uint64_t cs = gs.cluster_size();
    uint64_t skipped = 0;  // stream bytes left out before `committed`
    std::vector<GappedStream::Gap> kept;
    for (const GappedStream::Gap& g : gs.gaps())
        if (g.at <= committed) {
            skipped += g.clusters * cs;
            kept.push_back(g);
        }
    std::vector<Skip> cand;
    uint64_t reach = at + span + skipped;  // stream offset the unit may extend to
    for (const Skip& k : skips) {
        uint64_t s = k.cluster * cs;
        if (s <= committed + skipped) continue;
        if (s >= reach || cand.size() == kMaxSkipsTried) break;
        cand.push_back(k);
        reach += k.clusters * cs;
    }
    const uint32_t n = static_cast<uint32_t>(cand.size());
    for (uint32_t mask = 1; mask < (1u << n) && work < work_limit; ++mask) {
        gs.set_gap(committed + 1, 0);
        for (const auto& g : kept) gs.set_gap(g.at, g.clusters);
        uint64_t left_out = skipped;
        bool inside = true;
        for (uint32_t i = 0; i < n && inside; ++i) {
            if (!(mask >> i & 1)) continue;
            uint64_t f = cand[i].cluster * cs - left_out;  // file offset of the gap
            inside = f > committed && f < at + span;
            gs.set_gap(f, cand[i].clusters);
            left_out += cand[i].clusters * cs;
        }
        if (!inside) continue;
        work += 64;
        r = units.check(gs, at, next, work);
        if (r != Units::Result::Bad) return true;
    }
    gs.set_gap(committed + 1, 0);
    for (const auto& g : kept) gs.set_gap(g.at, g.clusters);
    return false;
}

}  // namespace

namespace {

// The units proven before file offset `at`, closed by the format's end.
Stitched proven_units(std::unique_ptr<GappedStream> gs, const Units& units, uint64_t first, uint64_t at) {
    Stitched out;
    if (at <= first) return out;
    std::vector<uint8_t> tail = units.closing();
    gs->set_gap(at, 0);
    gs->set_end(at, tail);
    out.length = at + tail.size();
    out.partial = true;
    out.stream = std::move(gs);
    return out;
}

}  // namespace

Stitched stitch_units(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size, Units& units,
                      uint64_t first, uint64_t work_limit, const std::vector<Skip>& skips) {
    using R = Units::Result;
    Stitched out;
    auto gs = std::make_unique<GappedStream>(v, first_cluster, phys);
    const uint64_t cs = v.cluster_size;
    uint64_t at = first, committed = first, work = 0;
    int gaps = 0;
    for (;;) {
        uint64_t next = 0;
        R r = units.check(*gs, at, next, work);
        if (r == R::Bad) {
            // The break lies at a cluster boundary inside this unit.
            const uint64_t span = std::max<uint64_t>(units.span(*gs, at), 1);
            bool found = false;
            uint64_t from = std::max(committed + 1, at);
            const bool blind = units.blind_gaps(*gs, at);
            for (uint64_t b = (from + cs - 1) / cs * cs;
                 blind && !found && gaps < kMaxGaps && b < at + span && b < max_size && work < work_limit &&
                 !units.searched_out();
                 b += cs) {
                for (uint64_t g = 1; g <= kMaxGapClusters && work < work_limit && !units.searched_out(); ++g) {
                    gs->set_gap(b, g);
                    uint8_t probe;
                    if (gs->read(b, &probe, 1) == 0) break;  // no free clusters left
                    if (!units.plausible(*gs, at, work)) continue;
                    r = units.check(*gs, at, next, work);
                    if (r != R::Bad) {
                        found = true;
                        committed = b;
                        ++gaps;
                        break;
                    }
                }
                if (!found) gs->set_gap(b, 0);
            }
            if (!found && gaps < kMaxGaps)
                found = try_skips(*gs, units, skips, committed, at, span, next, r, work, work_limit);
            if (!found) return proven_units(std::move(gs), units, first, at);
            committed = std::max(committed, at);
        }
        units.accept();
        if (r == R::End) {
            if (next > max_size) return out;
            out.length = next;
            out.stream = std::move(gs);
            return out;
        }
        at = next;
        committed = std::max(committed, at);
    }
}

namespace {

// ---- PNG: every chunk's CRC tells whether its bytes are the right ones.

bool is_letter(uint8_t b) { return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'); }

class PngChunks final : public Units {
public:
    explicit PngChunks(uint64_t max_size) : max_size_(max_size) {}

    Result check(Source& src, uint64_t at, uint64_t& next, uint64_t& work) override {
        uint8_t h[8];
        if (src.read(at, h, 8) != 8) return Result::Bad;
        uint32_t len = rd_be32(h);
        for (int i = 4; i < 8; ++i)
            if (!is_letter(h[i])) return Result::Bad;
        bool ihdr = std::memcmp(h + 4, "IHDR", 4) == 0;
        if (len > 0x7FFFFFFFu || at + 12 + len > max_size_ || first_ != ihdr || (ihdr && len != 13))
            return Result::Bad;
        uLong crc = ::crc32(0L, h + 4, 4);
        uint8_t buf[16384];
        for (uint64_t done = 0; done < len;) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(sizeof buf, len - done));
            if (src.read(at + 8 + done, buf, take) != take) return Result::Bad;
            crc = ::crc32(crc, buf, static_cast<uInt>(take));
            done += take;
        }
        work += len + 12;
        uint8_t stored[4];
        if (src.read(at + 8 + len, stored, 4) != 4 || rd_be32(stored) != static_cast<uint32_t>(crc))
            return Result::Bad;
        next = at + 12 + len;
        return std::memcmp(h + 4, "IEND", 4) == 0 ? Result::End : Result::Good;
    }
    void accept() override { first_ = false; }
    std::vector<uint8_t> closing() const override {
        return {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    }

    // A header read across the break gives a length that means nothing: only
    // boundaries within the 8 header bytes are tried then.
    uint64_t span(Source& src, uint64_t at) override {
        uint8_t h[8];
        return src.read(at, h, 8) == 8 ? 12 + uint64_t(rd_be32(h)) : 12;
    }

    // The chunk's header and the type of the chunk after it are letters
    // where the layout puts them.
    bool plausible(Source& src, uint64_t at, uint64_t& work) override {
        work += 64;
        uint8_t h[8], t[8];
        if (src.read(at, h, 8) != 8) return false;
        uint32_t len = rd_be32(h);
        if (len > 0x7FFFFFFFu || src.read(at + 12 + len, t, 8) != 8) return false;
        for (int i = 4; i < 8; ++i)
            if (!is_letter(h[i]) || !is_letter(t[i])) return false;
        return true;
    }

private:
    uint64_t max_size_;
    bool first_ = true;
};

constexpr uint64_t kPngWork = 64u << 20;

}  // namespace

Stitched stitch_png(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips) {
    uint8_t sig[8];
    FreeStream head(v, first_cluster, phys);
    if (head.read(0, sig, 8) != 8 || std::memcmp(sig, "\x89PNG\r\n\x1A\n", 8) != 0) return {};
    PngChunks chunks(max_size);
    return stitch_units(v, first_cluster, phys, max_size, chunks, 8, kPngWork, skips);
}

}  // namespace carver::fs
