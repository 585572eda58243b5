#pragma once
// What the engine knows of the file systems on the scanned device: for each
// volume, where its clusters lie and which are in use, and the deleted
// directory entries that still name a first cluster. Built once before the
// scan; the in-use bits are kept in pages allocated only where a bit is set,
// so a huge volume that is mostly free (or claims more clusters than it
// has) costs little memory.
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/source.h"

namespace carver::fs {

// Reads n bytes at an absolute device offset; returns the bytes read.
using ReadFn = std::function<size_t(uint64_t off, void* buf, size_t n)>;

// 64-bit words of a bitmap, all zero until written: pages of words are
// allocated on the first write into them.
class SparseWords {
public:
    void assign(size_t words, uint64_t zero);  // `zero` must be 0
    size_t size() const { return words_; }
    bool empty() const { return words_ == 0; }
    uint64_t operator[](size_t i) const {
        const auto& page = pages_[i / kPageWords];
        return page ? page[i % kPageWords] : 0;
    }
    uint64_t& operator[](size_t i);  // allocates the word's page
    // The first word index >= i in a page that holds a set bit, or size().
    size_t next_written(size_t i) const;

private:
    static constexpr size_t kPageWords = 4096;  // 32 KiB, 262 144 bits
    size_t words_ = 0;
    std::vector<std::unique_ptr<uint64_t[]>> pages_;
};

struct Volume {
    uint64_t data_start = 0;    // absolute offset of cluster index 0
    uint64_t cluster_size = 0;  // bytes, a multiple of 512
    uint64_t clusters = 0;      // clusters in the data area
    SparseWords used;           // one bit per cluster index
    // ext4: a free block that holds an extent tree node is a deleted file's
    // freed index block, lying between its pieces: the free stream skips it.
    bool skip_extent_nodes = false;

    // A volume of this layout with every cluster free.
    static Volume all_free(uint64_t data_start, uint64_t cluster_size, uint64_t clusters) {
        Volume v;
        v.data_start = data_start;
        v.cluster_size = cluster_size;
        v.clusters = clusters;
        v.used.assign((clusters + 63) / 64, 0);
        return v;
    }

    bool is_used(uint64_t c) const { return (used[c >> 6] >> (c & 63)) & 1; }
    void set_used(uint64_t c) { used[c >> 6] |= uint64_t(1) << (c & 63); }
    // First cluster index >= c that is free (or in use); `clusters` when none.
    uint64_t next_free(uint64_t c) const { return next_with(c, false); }
    uint64_t next_used(uint64_t c) const { return next_with(c, true); }
    uint64_t offset_of(uint64_t c) const { return data_start + c * cluster_size; }
    uint64_t end() const { return data_start + clusters * cluster_size; }

private:
    uint64_t next_with(uint64_t c, bool bit) const;
};

struct DeletedEntry {
    uint64_t start = 0;    // absolute offset of its first cluster
    uint64_t size = 0;     // bytes, as the entry says
    std::string folder;    // sanitised path below the output folder, "" for the top
    std::string name;      // sanitised
    int64_t mtime = -1;    // seconds since the epoch; -1 unknown
    // Absolute offset and length of each piece when the file system still
    // lists them all, in free clusters (NTFS run lists); else empty.
    std::vector<std::pair<uint64_t, uint64_t>> pieces;
    // A small file's bytes kept inside the file system's own record (NTFS
    // resident data); `start` is then where they lie, not a cluster.
    std::vector<uint8_t> resident;
    // A compressed file's runs (NTFS): absolute offset or UINT64_MAX for a
    // sparse run, and length; read in units of `unit` bytes. Else empty.
    std::vector<std::pair<uint64_t, uint64_t>> packed;
    uint64_t unit = 0;
    const char* origin = "";  // the file system that listed it: "fat", "exfat", "ntfs"
};

// Where a carved file goes when its start and size match a deleted entry.
struct Placement {
    std::string folder;
    std::string name;
    int64_t mtime = -1;
};

class WholeFiles;

class Map {
public:
    // Looks for file systems at the device start and in MBR/GPT partitions.
    // Damaged or unknown layouts are skipped; the map is then empty.
    void probe(const ReadFn& read, uint64_t device_size);

    bool empty() const { return volumes_.empty(); }
    const std::vector<Volume>& volumes() const { return volumes_; }
    const std::vector<DeletedEntry>& entries() const { return entries_; }

    // The volume and cluster index when `abs` is the start of a free cluster.
    const Volume* free_cluster_at(uint64_t abs, uint64_t& cluster) const;
    // A deleted entry starting at `abs` whose size is `length` and whose
    // extension names the type `ext`, or nullptr. Never a compressed file's
    // (the bytes at its start are not its bytes).
    // length 0: any size.
    const DeletedEntry* entry_for(uint64_t abs, uint64_t length, const std::string& ext) const;

    // Used by the file system readers while probing.
    void add_volume(Volume v) { volumes_.push_back(std::move(v)); }
    void add_entry(DeletedEntry e);
    void set_origin(size_t first_entry, const char* origin);  // of the entries from first_entry on
    void finish();  // sorts the entries for lookup

    // Files found lying whole while others were put together (fs/stitch.h),
    // made when first needed.
    mutable std::shared_ptr<WholeFiles> whole;

private:
    std::vector<Volume> volumes_;
    std::vector<DeletedEntry> entries_;
};

// The bytes of a volume's free clusters in order, from one free cluster on:
// a deleted file whose pieces are separated only by live files reads whole.
class FreeStream final : public Source {
public:
    // `phys` reads absolute device offsets.
    FreeStream(const Volume& v, uint64_t first_cluster, Source& phys);
    size_t read(uint64_t off, void* buf, size_t n) override;
    // True when the first `length` bytes cross a cluster in use.
    bool crosses_used(uint64_t length);
    // Calls fn(from, to) with the absolute range of each physical piece of
    // the stream's bytes [begin, end), in order.
    void for_each_piece(uint64_t begin, uint64_t end, const std::function<void(uint64_t, uint64_t)>& fn);

private:
    void rewind();
    bool locate(uint64_t k);  // makes k (a stream cluster index) lie in the current run
    uint64_t run_from(uint64_t c);  // sets run_c_, run_len_ from free cluster c; the next cluster to look at
    bool extent_node(uint64_t c);

    const Volume& v_;
    uint64_t first_;
    Source& phys_;
    uint64_t run_k_ = 0, run_c_ = 0, run_len_ = 0;  // stream index, cluster, length of a free run
    uint64_t next_c_ = 0;                           // where to look for the run after it
    struct Run {
        uint64_t k, c, len, next;
    };
    static constexpr size_t kMaxKnown = 1u << 18;
    std::vector<Run> known_;  // runs in stream order from the first on
};

// File and folder names as read from disk, made safe to create and to show
// (carver::safe_name): valid UTF-8, no '/', no control or bidirectional
// characters, no leading dot, at most 200 bytes.
std::string sanitize_name(const std::string& raw);
// True when a name's extension (any case) is one the carved type `ext` goes by.
bool extension_matches(const std::string& name, const std::string& ext);
// Encodes UTF-16 code units as UTF-8 (unpaired surrogates become '_').
std::string utf16_to_utf8(const std::u16string& s);

// File system readers; each adds what it finds at `base` to the map.
bool probe_fat(const ReadFn& read, uint64_t base, uint64_t limit, Map& map);
bool probe_exfat(const ReadFn& read, uint64_t base, uint64_t limit, Map& map);
bool probe_ext(const ReadFn& read, uint64_t base, uint64_t limit, Map& map);  // blocks in use, no entries
bool probe_ntfs(const ReadFn& read, uint64_t base, uint64_t limit, Map& map);

}  // namespace carver::fs
