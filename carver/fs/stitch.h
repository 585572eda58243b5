#pragma once
// Putting a deleted file back together when its pieces are separated by
// other deleted files' clusters: the free-cluster stream with runs of
// clusters left out, each gap chosen where the format's own structure proves
// the continuation.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

#include "fs/map.h"

namespace carver::fs {

// The free-cluster stream from one cluster on, with gaps: stream clusters
// left out after given points. Offsets are those of the file put together.
class GappedStream final : public Source {
public:
    GappedStream(const Volume& v, uint64_t first_cluster, Source& phys);
    size_t read(uint64_t off, void* buf, size_t n) override;
    // Leaves out `clusters` stream clusters from file offset `at` (a cluster multiple) on,
    // dropping gaps already set at or after `at`.
    void set_gap(uint64_t at, uint64_t clusters);
    uint64_t cluster_size() const { return v_.cluster_size; }
    // Physical pieces of the first `length` bytes, in order.
    void for_each_piece(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn);
    // From `at` on, the file reads as `tail` and then ends (a partial file's closing).
    void set_end(uint64_t at, std::vector<uint8_t> tail);
    // The file reads `bytes` at `at` (a partial file's corrected header).
    void patch(uint64_t at, std::vector<uint8_t> bytes) { patches_.push_back({at, std::move(bytes)}); }
    struct Gap {
        uint64_t at, clusters;
    };
    const std::vector<Gap>& gaps() const { return gaps_; }
    // The free-stream offset file offset `at` reads from, with the gaps as set.
    uint64_t stream_offset(uint64_t at) const {
        uint64_t room;
        return to_stream(at, room);
    }
    FreeStream& free_stream() { return free_; }

private:
    uint64_t to_stream(uint64_t off, uint64_t& room) const;  // room: bytes before the next gap

    const Volume& v_;
    FreeStream free_;
    std::vector<Gap> gaps_;  // ascending `at`
    uint64_t end_ = UINT64_MAX;
    std::vector<uint8_t> tail_;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> patches_;
};

// Files that lie whole from a free cluster on (a baseline JPEG whose data
// decodes to its end marker, any other file whose format's walk ends at a
// size not merely claimed): a gap search passes over their clusters rather
// than try each as a continuation. Each start is read once per scan.
class WholeFiles {
public:
    // Clusters of the whole file at stream offset `at` (a cluster multiple) of
    // `fs`; 0 when none starts there or the bound on reading is spent.
    // Clusters inside a range already put together count the same way:
    // each cluster goes to one file.
    uint64_t clusters_at(FreeStream& fs, uint64_t at, uint64_t cluster_size);
    // The absolute range [from, to) of free clusters belongs to a file put together.
    void take(uint64_t from, uint64_t to);

    // The file type box and movie box of the last clip whose movie box was
    // read whole: the model for a clip of the same camera whose own is lost.
    void keep_movie(std::vector<uint8_t> ftyp, std::vector<uint8_t> moov) {
        if (moov.size() > kMaxModel) return;
        model_ftyp_ = std::move(ftyp);
        model_moov_ = std::move(moov);
    }
    // The model's movie box when its file type box is `ftyp`, else nullptr.
    const std::vector<uint8_t>* movie_like(const std::vector<uint8_t>& ftyp) const {
        return !model_moov_.empty() && ftyp == model_ftyp_ ? &model_moov_ : nullptr;
    }

private:
    static constexpr size_t kMaxModel = 4u << 20;
    std::vector<uint8_t> model_ftyp_, model_moov_;
    static constexpr uint64_t kWork = 4ull << 30;  // bytes read over a scan
    static constexpr size_t kMaxTaken = 1u << 20;
    std::unordered_map<uint64_t, uint64_t> known_;  // absolute offset: clusters, 0 when none
    std::map<uint64_t, uint64_t> taken_;            // absolute start: end
    uint64_t work_ = 0;
};

// Where another deleted file starts in the free-cluster stream (a stream
// cluster index) and how many clusters it holds: a likely gap, since files
// deleted later lie between the pieces of files written into earlier gaps.
struct Skip {
    uint64_t cluster, clusters;
};

// The starts of other deleted files in the free stream from `first_cluster`
// over its first `horizon` bytes, in stream order.
std::vector<Skip> deleted_skips(const Map& map, const Volume& v, uint64_t first_cluster, Source& phys,
                                uint64_t horizon);

// True when every gap set after file offset `after` leaves out exactly the
// clusters of one skip.
bool gaps_are_skips(const GappedStream& gs, uint64_t after, const std::vector<Skip>& skips);

// Cluster boundaries strictly inside (from, to).
inline uint64_t boundaries(uint64_t from, uint64_t to, uint64_t cluster) {
    uint64_t first = (from / cluster + 1) * cluster;
    return first < to ? (to - 1 - first) / cluster + 1 : 0;
}

struct Stitched {
    std::unique_ptr<GappedStream> stream;
    uint64_t length = 0;   // bytes to write
    bool partial = false;  // the proven part only, closed so that decoders show it
};

// A baseline JPEG put together by decoding its entropy-coded data; nullptr
// stream when the data does not decode that far or the work bound is hit.
// A partial result is returned when the first piece decodes but no
// continuation proves right.
// `whole`, when given, names the files the gap search passes over.
// A JPEG the baseline decoder does not take (progressive, several scans,
// lossless, arithmetic) gives its head: the scans that decode to their exact
// block count (or, undecoded, that end inside the first cluster), cut before
// the first other deleted file's start (`skips`).
Stitched stitch_jpeg(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                     WholeFiles* whole = nullptr, const std::vector<Skip>& skips = {});

// The offset of the marker after the last scan of the JPEG in `src` that
// checks, reading below `limit`: Huffman-coded scans (sequential or
// progressive) decoded block by block to their exact count, other scans only
// when they end before `sure`. 0 when no scan checks.
uint64_t jpeg_scans_head(Source& src, uint64_t limit, uint64_t sure);

// A PNG put together by its chunk CRCs.
Stitched stitch_png(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips = {});

// A ZIP archive (and the documents that are ZIP archives) put together by
// its members' CRC-32s and sizes and the central directory's offsets.
Stitched stitch_zip(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips = {});

// A PDF (classic cross-reference tables) put together by its deflated
// streams, its objects' text and the cross-reference offsets.
Stitched stitch_pdf(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips = {});

// MPEG audio put together by its frame chain.
Stitched stitch_mp3(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips = {});

// A RIFF file (WAV, AVI) put together by its chunk table and, for AVI, its
// index.
Stitched stitch_riff(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                     const std::vector<Skip>& skips = {});

// A GIF put together by decoding every image's LZW codes to exactly its
// pixel count.
Stitched stitch_gif(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips = {});

// An MP4/QuickTime/3GP file put together by its sample tables: every
// sample's offset must land on a sample that checks. A file whose movie box
// is lost gives, when `whole` holds a model movie box of the same file type,
// the video samples its media data holds from the start on (length-prefixed
// NAL units, audio chunks between them) with a movie box built from the model.
Stitched stitch_iso(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips = {}, WholeFiles* whole = nullptr);

// How the scan stitches one format (its Format::stitch entry).
struct Stitcher {
    Stitched (*run)(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips, WholeFiles* whole);
    // Other deleted files' starts are offered as likely gaps.
    bool takes_skips = true;
    // The format's walk over the stitched file must end at the same length
    // (it also names a ZIP document's type).
    bool walk_confirms = true;
};
extern const Stitcher kJpegStitcher, kPngStitcher, kGifStitcher, kZipStitcher, kPdfStitcher, kMp3Stitcher,
    kRiffStitcher, kIsoStitcher;

// A format read as a chain of units that each prove their own bytes (PNG
// chunks, ZIP members): the unit that fails holds a break at one of its
// cluster boundaries, and the gap there is the one after which it checks.
class Units {
public:
    enum class Result { Good, Bad, End };
    virtual ~Units() = default;
    // Checks the unit at `at` (no state changes); on Good and End `next` is
    // the offset after it. `work` grows with the bytes checked.
    virtual Result check(Source& s, uint64_t at, uint64_t& next, uint64_t& work) = 0;
    // The unit just checked Good or End becomes part of the file.
    virtual void accept() {}
    // Bytes from `at` as far as a break may lie that makes the unit fail.
    virtual uint64_t span(Source& s, uint64_t at) = 0;
    // A cheap first test of a continuation (the layout around the unit's end).
    virtual bool plausible(Source& s, uint64_t at, uint64_t& work) = 0;
    // The unit's own bound on trying cluster boundaries is spent.
    virtual bool searched_out() const { return false; }
    // Whether gaps may be tried at any boundary inside the unit: false when
    // its bytes cannot tell one boundary from another, so that only other
    // deleted files' clusters (skips) can say where the break lies.
    virtual bool blind_gaps(Source& /*s*/, uint64_t /*at*/) { return true; }
    // Bytes that close a file cut after a proven unit (PNG: an IEND chunk).
    virtual std::vector<uint8_t> closing() const { return {}; }
};

// Stitches the units from file offset `first` on; `work_limit` bounds the
// bytes checked over all continuations tried. A unit that no single gap
// makes check is tried with `skips` left out, any few of them together (a
// unit may hold several breaks). When none does, the result is partial: the
// units proven before it, closed.
Stitched stitch_units(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size, Units& units,
                      uint64_t first, uint64_t work_limit, const std::vector<Skip>& skips = {});

}  // namespace carver::fs
