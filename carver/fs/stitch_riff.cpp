// RIFF files (WAV, AVI) put together across other deleted files' clusters:
// a unit is one chunk, a list's header counting as one and its chunks
// following it, and it checks when the next chunk's header lies exactly
// where its size ends, inside its list, the lists ending where their sizes
// say. A chunk's body (samples, video frames) holds no check of its own, so
// a gap inside it is taken only where the break's place is certain (one
// cluster boundary in the chunk, or exactly another deleted file's
// clusters), and only when chunk headers after it prove it: a break among
// the last samples of a WAV stays unproven. An AVI's index must then name
// every chunk where the file put together has it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/stitch.h"

namespace carver::fs {

bool gaps_are_skips(const GappedStream& gs, uint64_t after, const std::vector<Skip>& skips) {
    const uint64_t cs = gs.cluster_size();
    uint64_t left_out = 0;  // stream bytes before each gap
    for (const GappedStream::Gap& g : gs.gaps()) {
        if (g.at > after) {
            uint64_t c = (g.at + left_out) / cs;
            auto it = std::lower_bound(skips.begin(), skips.end(), c,
                                       [](const Skip& k, uint64_t x) { return k.cluster < x; });
            if (it == skips.end() || it->cluster != c || it->clusters != g.clusters) return false;
        }
        left_out += g.clusters * cs;
    }
    return true;
}

namespace {

constexpr uint64_t kRiffWork = 64u << 20;
constexpr int kRun = 4;          // chunk headers read after a gap, at most
constexpr size_t kMaxDepth = 16;  // lists inside lists
constexpr uint64_t kMaxIndex = 1u << 20;  // index entries checked

bool fourcc_ok(const uint8_t* p) {
    for (int i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E) return false;
    return true;
}

struct List {
    uint64_t end, padded;
};
using Lists = std::vector<List>;  // the lists a chunk lies in, innermost last

class RiffChunks final : public Units {
public:
    RiffChunks(uint64_t end, uint64_t cluster, const std::vector<Skip>& skips)
        : lists_{{end, end}}, cs_(cluster), skips_(skips) {}

    Result check(Source& s, uint64_t at, uint64_t& next, uint64_t& work) override {
        work += 16;
        Lists lists = lists_;
        uint64_t p = at;
        Result r = step(s, p, lists);
        if (r == Result::Bad) return Result::Bad;
        auto* gs = dynamic_cast<GappedStream*>(&s);
        if (gs && !gs->gaps().empty() && gs->gaps().back().at > at) {
            if (!blind_gaps(s, at) && !gaps_are_skips(*gs, at, skips_)) return Result::Bad;
            // Chunk headers after the gap prove it; the list's end alone does not.
            const uint64_t gap = gs->gaps().back().at;
            Lists l = lists;
            uint64_t q = p;
            int after = 0;
            for (Result t = r; t == Result::Good && after < kRun;) {
                uint64_t from = q;
                work += 16;
                t = step(s, q, l);
                if (t == Result::Bad) return Result::Bad;
                after += from >= gap;
            }
            if (after == 0) return Result::Bad;
        } else if (r == Result::Good) {
            Lists l = lists;
            uint64_t q = p;
            if (step(s, q, l) == Result::Bad) return Result::Bad;
        }
        uint8_t last;
        if (r == Result::End && (s.read(p - 1, &last, 1) != 1 || !tail_proven(s, at, p))) return Result::Bad;
        pending_ = std::move(lists);
        next = p;
        return r;
    }

    void accept() override { lists_ = pending_; }

    uint64_t span(Source& s, uint64_t at) override {
        uint8_t h[8];
        if (s.read(at, h, 8) != 8) return 8;
        if (std::memcmp(h, "LIST", 4) == 0) return 12 + 8;
        uint64_t size = rd_le32(h + 4);
        return std::min(8 + size + (size & 1), lists_.back().end - std::min(at, lists_.back().end)) + 8;
    }

    // A chunk body with two cluster boundaries in it cannot tell at which one
    // its break lies.
    bool blind_gaps(Source& s, uint64_t at) override { return boundaries(at, at + span(s, at), cs_) <= 1; }

    bool plausible(Source& s, uint64_t at, uint64_t& work) override {
        work += 16;
        Lists l = lists_;
        uint64_t p = at;
        Result r = step(s, p, l);
        return r == Result::End || (r == Result::Good && step(s, p, l) != Result::Bad);
    }

private:
    // The file's last chunk has no header after it to prove its body: that
    // body must not hold another deleted file's start, unless it is an
    // AVI's index, which the chunks it names prove.
    bool tail_proven(Source& s, uint64_t at, uint64_t end) const {
        uint8_t h[4];
        if (s.read(at, h, 4) == 4 && std::memcmp(h, "idx1", 4) == 0) return true;
        auto* gs = dynamic_cast<GappedStream*>(&s);
        auto stream = [&](uint64_t off) {
            uint64_t left_out = 0;
            if (gs)
                for (const GappedStream::Gap& g : gs->gaps())
                    if (g.at <= off) left_out += g.clusters * cs_;
            return off + left_out;
        };
        const uint64_t from = stream(at), to = stream(end - 1) + 1;
        auto it = std::upper_bound(skips_.begin(), skips_.end(), from / cs_,
                                   [](uint64_t c, const Skip& k) { return c < k.cluster; });
        return it == skips_.end() || it->cluster * cs_ >= to;
    }

    // The chunk at `at`: `at` moves to the chunk after it (into a list it
    // opens, out of the lists it closes); End when that closes the file.
    static Result step(Source& s, uint64_t& at, Lists& lists) {
        if (lists.empty()) return Result::Bad;
        const uint64_t end = lists.back().end;
        uint8_t h[12];
        if (at > end || end - at < 8 || s.read(at, h, 8) != 8 || !fourcc_ok(h)) return Result::Bad;
        const uint64_t size = rd_le32(h + 4), body = at + 8;
        if (size > end - body) return Result::Bad;
        if (std::memcmp(h, "LIST", 4) == 0) {
            if (size < 4 || lists.size() >= kMaxDepth || s.read(body, h + 8, 4) != 4 || !fourcc_ok(h + 8))
                return Result::Bad;
            lists.push_back({body + size, std::min(body + size + (size & 1), end)});
            at = body + 4;
        } else {
            at = std::min(body + size + (size & 1), end);  // the last chunk may go without its pad byte
        }
        while (!lists.empty() && at == lists.back().end) {
            at = lists.back().padded;
            lists.pop_back();
        }
        return lists.empty() ? Result::End : Result::Good;
    }

    Lists lists_, pending_;
    uint64_t cs_;
    const std::vector<Skip>& skips_;
};

// Every entry of an AVI's index names the chunk at its offset (from the
// "movi" list's type, or from the file's start), with its size. No index: true.
bool index_agrees(Source& s, uint64_t end) {
    uint64_t movi = 0, idx = 0, idx_size = 0;
    for (uint64_t at = 12; at + 8 <= end;) {
        uint8_t h[12];
        if (s.read(at, h, 12) != 12) return false;
        uint64_t size = rd_le32(h + 4);
        if (std::memcmp(h, "LIST", 4) == 0 && std::memcmp(h + 8, "movi", 4) == 0 && !movi) movi = at + 8;
        if (std::memcmp(h, "idx1", 4) == 0) idx = at + 8, idx_size = size;
        at += 8 + size + (size & 1);
    }
    if (!idx) return true;
    if (!movi) return false;
    int mode = 0;  // 1: from "movi", 2: from the file's start
    const uint64_t entries = std::min(idx_size / 16, kMaxIndex);
    for (uint64_t i = 0; i < entries; ++i) {
        uint8_t e[16];
        if (s.read(idx + 16 * i, e, 16) != 16) return false;
        auto names = [&](uint64_t pos) {
            uint8_t h[12];
            if (pos > end || end - pos < 8 || s.read(pos, h, 12) < 8 || rd_le32(h + 4) != rd_le32(e + 12)) return false;
            return std::memcmp(h, e, 4) == 0 || (std::memcmp(h, "LIST", 4) == 0 && std::memcmp(h + 8, e, 4) == 0);
        };
        uint64_t off = rd_le32(e + 8);
        if (mode == 0) mode = names(movi + off) ? 1 : names(off) ? 2 : -1;
        if (mode < 0 || !names(mode == 1 ? movi + off : off)) return false;
    }
    return true;
}

}  // namespace

Stitched stitch_riff(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                     const std::vector<Skip>& skips) {
    FreeStream head(v, first_cluster, phys);
    uint8_t h[12];
    if (head.read(0, h, 12) != 12 || std::memcmp(h, "RIFF", 4) != 0 || !fourcc_ok(h + 8)) return {};
    const uint64_t end = 8 + uint64_t(rd_le32(h + 4));
    if (end < 12 || end > max_size) return {};
    RiffChunks chunks(end, v.cluster_size, skips);
    Stitched out = stitch_units(v, first_cluster, phys, max_size, chunks, 12, kRiffWork, skips);
    // Samples prove nothing: a part whose gaps were placed among them is not
    // proven (the part before the other file is written instead).
    if (out.partial) return {};
    if (out.stream && !out.partial && std::memcmp(h + 8, "AVI ", 4) == 0 && !index_agrees(*out.stream, out.length)) return {};
    return out;
}

}  // namespace carver::fs
