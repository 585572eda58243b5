#include "fs/scan_hook.h"
#include "fs/ntfs.h"

#include <algorithm>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace carver::fs {

Map probe_device(const Device& dev, const std::atomic<bool>& stop) {
    Map map;
    struct stat st;
    if (!dev.seekable || ::fstat(dev.fd, &st) != 0) return map;
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode)) {
        off_t end = ::lseek(dev.fd, 0, SEEK_END);
        size = end > 0 ? static_cast<uint64_t>(end) : 0;
    }
    uint64_t bad = 0;
    map.probe([&](uint64_t off, void* buf, size_t n) -> size_t {
        if (off >= size || n > size - off) return 0;
        return read_robust(dev, static_cast<uint8_t*>(buf), n, off, bad, stop);
    }, size);
    return map;
}

size_t PieceSource::read(uint64_t off, void* buf, size_t n) {
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    uint64_t at = 0;  // file offset of the piece
    for (const auto& [abs, len] : pieces_) {
        if (done == n) break;
        if (off + done >= at + len) {
            at += len;
            continue;
        }
        uint64_t in = off + done - at;
        size_t take = static_cast<size_t>(std::min<uint64_t>(n - done, len - in));
        size_t got = phys_.read(abs + in, out + done, take);
        done += got;
        if (got < take) break;
        at += len;
    }
    return done;
}

void PieceSource::for_each_piece(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn) const {
    for (const auto& [abs, len] : pieces_) {
        if (length == 0) break;
        uint64_t take = std::min(length, len);
        fn(abs, abs + take);
        length -= take;
    }
}

void FsCarve::pieces(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn) {
    if (listed) listed->for_each_piece(length, fn);
    else if (stream) stream->for_each_piece(0, length, fn);
    else if (stitched.stream) stitched.stream->for_each_piece(length, fn);
}

namespace {

// A compressed file starts at pos: its clusters hold its data compressed, so
// no piece of it can be proven as it lies.
bool compressed_at(const Map& map, uint64_t pos) {
    const auto& entries = map.entries();
    auto it = std::lower_bound(entries.begin(), entries.end(), pos,
                               [](const DeletedEntry& e, uint64_t a) { return e.start < a; });
    for (; it != entries.end() && it->start == pos; ++it)
        if (!it->packed.empty()) return true;
    return false;
}

}  // namespace

FsCarve carve_free_stream(const Map& map, const Format& f, uint64_t max_size, uint64_t pos, Source& phys) {
    FsCarve r;
    const auto& entries = map.entries();
    auto it = std::lower_bound(entries.begin(), entries.end(), pos,
                               [](const DeletedEntry& e, uint64_t a) { return e.start < a; });
    for (; it != entries.end() && it->start == pos; ++it) {
        if (it->pieces.empty() || it->size > max_size) continue;
        auto src = std::make_unique<PieceSource>(it->pieces, phys);
        Carve cv = f.walk(*src, max_size);
        if (cv.length != it->size) continue;
        r.cv = cv;
        r.listed = std::move(src);
        return r;
    }
    uint64_t cluster;
    const Volume* v = map.free_cluster_at(pos, cluster);
    if (!v) return r;
    auto stream = std::make_unique<FreeStream>(*v, cluster, phys);
    Carve cv = f.walk(*stream, max_size);
    if (cv.length == 0 || cv.length > max_size || !stream->crosses_used(cv.length)) return r;
    r.cv = cv;
    r.stream = std::move(stream);
    return r;
}

namespace {
// Stitchers that leave the whole-file record to the scan.
template <Stitched (*Fn)(const Volume&, uint64_t, Source&, uint64_t, const std::vector<Skip>&)>
Stitched by_units(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                  const std::vector<Skip>& skips, WholeFiles*) {
    return Fn(v, first_cluster, phys, max_size, skips);
}
}  // namespace

const Stitcher kJpegStitcher{[](const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                                const std::vector<Skip>& skips, WholeFiles* whole) {
                                 return stitch_jpeg(v, first_cluster, phys, max_size, whole, skips);
                             },
                             true, false};
const Stitcher kPngStitcher{by_units<stitch_png>, true, false};
const Stitcher kGifStitcher{by_units<stitch_gif>};
const Stitcher kZipStitcher{by_units<stitch_zip>};
const Stitcher kPdfStitcher{by_units<stitch_pdf>};
const Stitcher kMp3Stitcher{by_units<stitch_mp3>};
const Stitcher kRiffStitcher{by_units<stitch_riff>};
const Stitcher kIsoStitcher{[](const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                               const std::vector<Skip>& skips, WholeFiles* whole) {
                                return stitch_iso(v, first_cluster, phys, max_size, skips, whole);
                            }};

FsCarve stitch(const Map& map, const Format& f, uint64_t max_size, uint64_t pos, Source& phys) {
    FsCarve r;
    uint64_t cluster;
    const Volume* v = map.free_cluster_at(pos, cluster);
    if (!f.stitch || !v || compressed_at(map, pos)) return r;
    if (!map.whole) map.whole = std::make_shared<WholeFiles>();
    std::vector<Skip> skips;
    if (f.stitch->takes_skips)
        skips = deleted_skips(map, *v, cluster, phys, std::min<uint64_t>(max_size, 64u << 20));
    r.stitched = f.stitch->run(*v, cluster, phys, max_size, skips, map.whole.get());
    if (!r.stitched.stream) return r;
    r.cv.length = r.stitched.length;
    if (f.stitch->walk_confirms && !r.stitched.partial) {
        Carve cv = f.walk(*r.stitched.stream, max_size);
        if (cv.length != r.stitched.length) return FsCarve{};
        r.cv.ext = cv.ext;
    }
    r.partial = r.stitched.partial;
    // Every cluster goes to one file: later gap searches pass over this one's.
    if (!r.partial)
        r.stitched.stream->for_each_piece(r.cv.length, [&](uint64_t a, uint64_t b) { map.whole->take(a, b); });
    return r;
}

namespace {

// The file offset of the first other deleted file's start inside the
// reading, 0 when there is none.
uint64_t first_deleted_start(const Map& map, uint64_t pos, FsCarve& fc, uint64_t length) {
    const auto& entries = map.entries();
    uint64_t met = 0, at = 0;  // `at`: file offset of the piece
    auto piece = [&](uint64_t from, uint64_t to) {
        auto it = std::upper_bound(entries.begin(), entries.end(), from,
                                   [](uint64_t a, const DeletedEntry& e) { return a < e.start; });
        if (!met && it != entries.end() && it->start < to) met = at + (it->start - from);
        at += to - from;
    };
    if (fc.body()) fc.pieces(length, piece);
    else piece(pos, pos + length);
    return met;
}

bool meets_deleted_start(const Map& map, uint64_t pos, FsCarve& fc, uint64_t length) {
    return first_deleted_start(map, pos, fc, length) != 0;
}

}  // namespace

void recheck(const Map& map, const Format& f, uint64_t max_size, uint64_t pos, Source& phys, FsCarve& fc, Carve& cv) {
    if (cv.length == 0 || fc.stitched.stream || fc.listed) return;
    // The walk says the file goes on: its pieces may be found (a JPEG's
    // stitcher decodes its primary image only, never the parts after it).
    if (cv.partial && !cv.part_length && f.stitch != &kJpegStitcher) {
        FsCarve st = stitch(map, f, max_size, pos, phys);
        if (st.body() && !st.partial && st.cv.length > cv.length) {
            fc = std::move(st);
            cv = fc.cv;
            return;
        }
    }
    if (!meets_deleted_start(map, pos, fc, cv.length)) return;
    FsCarve st = stitch(map, f, max_size, pos, phys);
    if (st.body()) {
        fc = std::move(st);
        cv = fc.cv;
        return;
    }
    // Nothing proves the rest: the part is what precedes the other file.
    fc.partial = true;
    cv.length = first_deleted_start(map, pos, fc, cv.length);
}

FsCarve carve_resident(const DeletedEntry& e, const Format& f, uint64_t max_size, Source& phys) {
    FsCarve r;
    if (!e.packed.empty() && e.size <= max_size) {
        auto src = std::make_unique<PackedSource>(e.packed, e.unit, e.size, phys);
        Carve cv = f.walk(*src, max_size);
        if (cv.length != e.size) return r;
        r.cv = cv;
        r.unpacked = std::move(src);
        return r;
    }
    if (e.resident.empty() || e.resident.size() > max_size) return r;
    auto src = std::make_unique<BufferSource>(e.resident.data(), e.resident.size());
    Carve cv = f.walk(*src, max_size);
    if (cv.length != e.resident.size()) return r;
    r.cv = cv;
    r.kept = std::move(src);
    return r;
}

size_t resident_head(const DeletedEntry& e, Source& phys, uint8_t* buf, size_t n) {
    if (!e.packed.empty()) return PackedSource(e.packed, e.unit, e.size, phys).read(0, buf, n);
    n = std::min(n, e.resident.size());
    if (n) std::memcpy(buf, e.resident.data(), n);
    return n;
}

}  // namespace carver::fs
