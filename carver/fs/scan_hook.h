#pragma once
// Readings of a candidate through the file system map: carving through the
// stream of free clusters, stitching across other deleted files, files kept
// inside the file system's records (fs/file_systems.cpp puts them together
// for the scan).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/format.h"
#include "core/reader.h"
#include "fs/map.h"
#include "fs/stitch.h"

namespace carver::fs {

// The bytes of a file whose pieces the file system lists, in order.
class PieceSource final : public Source {
public:
    PieceSource(const std::vector<std::pair<uint64_t, uint64_t>>& pieces, Source& phys) : pieces_(pieces), phys_(phys) {}
    size_t read(uint64_t off, void* buf, size_t n) override;
    void for_each_piece(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn) const;

private:
    const std::vector<std::pair<uint64_t, uint64_t>>& pieces_;  // absolute offset, length
    Source& phys_;
};

// Reads the device's file systems (none for a pipe).
Map probe_device(const Device& dev, const std::atomic<bool>& stop);

struct FsCarve {
    Carve cv;
    std::unique_ptr<FreeStream> stream;  // set when the stream reached across live files
    Stitched stitched;                   // or: pieces put together across gaps
    std::unique_ptr<PieceSource> listed; // or: the pieces a deleted entry lists
    std::unique_ptr<BufferSource> kept;  // or: the bytes the entry's own record holds
    std::unique_ptr<Source> unpacked;    // or: a compressed file's bytes, expanded
    bool partial = false;

    // The file's bytes; nullptr when no reading applied.
    Source* body() const {
        if (kept) return kept.get();
        if (unpacked) return unpacked.get();
        if (listed) return listed.get();
        return stream ? static_cast<Source*>(stream.get()) : stitched.stream.get();
    }
    // Physical pieces of the file's first `length` bytes, in order.
    void pieces(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn);
};

// Inside a file system, a candidate at the start of a deleted entry that
// lists its pieces is read through them when the format's walk ends exactly
// at the entry's size. Otherwise it is read through the stream of free clusters: a deleted file separated only by
// live files' clusters reads whole there. Empty unless that reading reaches
// across a cluster in use (otherwise the contiguous reading is the same).
FsCarve carve_free_stream(const Map& map, const Format& f, uint64_t max_size, uint64_t pos, Source& phys);

// Neither reading gave a file: a format whose structure can prove a
// continuation is put together across the clusters of other deleted files.
FsCarve stitch(const Map& map, const Format& f, uint64_t max_size, uint64_t pos, Source& phys);

// A file read in one piece (or through the free stream) that reaches over
// the start of another deleted file in the middle of a run of free clusters
// may hold that file's clusters: it is not proven whole. A format that can
// prove its continuation is stitched instead; anything else is written as
// partial. A walk that ends short of what the file declares (cv.partial) is
// stitched too, and replaced when that gives the file whole.
// `fc`/`cv` are replaced; unchanged when the reading meets no such start.
void recheck(const Map& map, const Format& f, uint64_t max_size, uint64_t pos, Source& phys, FsCarve& fc, Carve& cv);

// A deleted file kept inside its record, or compressed, when the format's
// walk over its bytes ends exactly at their end.
FsCarve carve_resident(const DeletedEntry& e, const Format& f, uint64_t max_size, Source& phys);
// The first bytes of such a file (up to n); 0 when it is neither.
size_t resident_head(const DeletedEntry& e, Source& phys, uint8_t* buf, size_t n);

}  // namespace carver::fs
