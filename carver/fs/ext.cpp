// ext2, ext3 and ext4: the superblock's layout and the block groups' bitmaps
// as the volume's map of blocks in use (a cluster here is a block). Names of
// deleted files are not read: ext4 clears a deleted inode's block map, so a
// name could not be tied to its data.
#include <algorithm>
#include <cstring>

#include "fs/map.h"

namespace carver::fs {
namespace {

constexpr size_t kDescChunk = 1u << 20;  // group descriptors read at a time

constexpr uint32_t kIncompatJournalDev = 0x8, kIncompatMetaBg = 0x10, kIncompat64 = 0x80;
constexpr uint32_t kRoSparseSuper = 0x1, kRoGdtCsum = 0x10, kRoBigalloc = 0x200, kRoMetaCsum = 0x400;
constexpr uint32_t kCompatSparseSuper2 = 0x200;
constexpr uint16_t kBlockUninit = 0x2;

struct Layout {
    uint64_t base = 0;
    uint64_t block = 0;        // bytes
    uint64_t blocks = 0;
    uint32_t first_data = 0;   // block of group 0's first bit
    uint32_t per_group = 0;    // blocks
    uint64_t groups = 0;
    uint32_t desc_size = 32;
    uint64_t itable_blocks = 0;
    uint64_t gdt_blocks = 0;   // descriptor blocks plus those reserved for growth
    bool sparse = false, sparse2 = false, uninit_ok = false;
    uint32_t backups[2] = {0, 0};  // sparse_super2
};

bool parse_super(const uint8_t* s, uint64_t base, uint64_t limit, Layout& l) {
    if (rd_le16(s + 56) != 0xEF53) return false;
    uint32_t log = rd_le32(s + 24), compat = rd_le32(s + 92), incompat = rd_le32(s + 96),
             ro = rd_le32(s + 100);
    if (log > 6 || (incompat & (kIncompatJournalDev | kIncompatMetaBg)) || (ro & kRoBigalloc)) return false;
    l.base = base;
    l.block = uint64_t(1024) << log;
    l.blocks = rd_le32(s + 4) | (incompat & kIncompat64 ? uint64_t(rd_le32(s + 0x150)) << 32 : 0);
    l.first_data = rd_le32(s + 20);
    l.per_group = rd_le32(s + 32);
    uint32_t inodes_per_group = rd_le32(s + 40);
    uint32_t inode_size = rd_le32(s + 76) == 0 ? 128 : rd_le16(s + 88);
    if (incompat & kIncompat64) l.desc_size = rd_le16(s + 254);
    if (l.first_data != (l.block == 1024 ? 1u : 0u) || l.blocks <= l.first_data ||
        l.blocks > (limit - base) / l.block || l.per_group < 256 || l.per_group % 8 ||
        l.per_group > 8 * l.block || inodes_per_group == 0 || inodes_per_group > 8 * l.block ||
        inode_size < 128 || inode_size > l.block || (inode_size & (inode_size - 1)) || l.desc_size < 32 ||
        l.desc_size > 1024 || (l.desc_size & (l.desc_size - 1)))
        return false;
    l.groups = (l.blocks - l.first_data + l.per_group - 1) / l.per_group;
    l.itable_blocks = (uint64_t(inodes_per_group) * inode_size + l.block - 1) / l.block;
    if (l.itable_blocks > l.per_group) return false;
    l.gdt_blocks = (l.groups * l.desc_size + l.block - 1) / l.block + rd_le16(s + 206);
    if (l.gdt_blocks + 1 > l.per_group) return false;
    l.sparse = ro & kRoSparseSuper;
    l.sparse2 = compat & kCompatSparseSuper2;
    l.backups[0] = rd_le32(s + 0x24C);
    l.backups[1] = rd_le32(s + 0x250);
    // The flag that a group's bitmap was never written counts only where
    // group descriptors carry checksums; otherwise the kernel reads the bitmap.
    l.uninit_ok = ro & (kRoGdtCsum | kRoMetaCsum);
    return true;
}

bool is_power_of(uint64_t n, uint64_t b) {
    while (n > 1 && n % b == 0) n /= b;
    return n == 1;
}

// Whether group g starts with a copy of the superblock and descriptors.
bool has_super(const Layout& l, uint64_t g) {
    if (g == 0) return true;
    if (l.sparse2) return g == l.backups[0] || g == l.backups[1];
    if (!l.sparse || g == 1) return true;
    return is_power_of(g, 3) || is_power_of(g, 5) || is_power_of(g, 7);
}

void mark(Volume& v, uint64_t first, uint64_t count) {
    for (uint64_t b = first; b < v.clusters && b - first < count; ++b) v.set_used(b);
}

class ExtReader {
public:
    ExtReader(const ReadFn& read, const Layout& l, Volume& v) : read_(read), l_(l), v_(v) {}

    // Every group's own metadata is marked in use wherever it lies (flex_bg
    // packs it into the first group of a flex group); a group whose bitmap
    // is written adds its bits, one never written has nothing else in use.
    bool read_groups() {
        mark(v_, 0, l_.first_data);
        std::vector<uint8_t> desc;
        uint64_t gdt = l_.base + (uint64_t(l_.first_data) + 1) * l_.block;
        uint64_t per_chunk = kDescChunk / l_.desc_size;
        bitmap_.resize(l_.per_group / 8);
        for (uint64_t g0 = 0; g0 < l_.groups; g0 += per_chunk) {
            uint64_t n = std::min(per_chunk, l_.groups - g0);
            desc.resize(static_cast<size_t>(n * l_.desc_size));
            if (read_(gdt + g0 * l_.desc_size, desc.data(), desc.size()) != desc.size()) return false;
            for (uint64_t i = 0; i < n; ++i)
                if (!group(g0 + i, &desc[static_cast<size_t>(i * l_.desc_size)])) return false;
        }
        return true;
    }

private:
    uint64_t block_no(const uint8_t* d, int lo, int hi) const {
        uint64_t b = rd_le32(d + lo);
        if (l_.desc_size >= 64) b |= uint64_t(rd_le32(d + hi)) << 32;
        return b;
    }

    bool group(uint64_t g, const uint8_t* d) {
        uint64_t start = l_.first_data + g * l_.per_group;
        uint64_t bitmap = block_no(d, 0, 0x20), inodes = block_no(d, 4, 0x24), table = block_no(d, 8, 0x28);
        if (bitmap >= l_.blocks || inodes >= l_.blocks || table >= l_.blocks) return false;
        if (has_super(l_, g)) mark(v_, start, 1 + l_.gdt_blocks);
        mark(v_, bitmap, 1);
        mark(v_, inodes, 1);
        mark(v_, table, l_.itable_blocks);
        if (l_.uninit_ok && (rd_le16(d + 18) & kBlockUninit)) return true;
        uint64_t count = std::min<uint64_t>(l_.per_group, l_.blocks - start);
        size_t bytes = static_cast<size_t>((count + 7) / 8);
        if (read_(l_.base + bitmap * l_.block, bitmap_.data(), bytes) != bytes) return false;
        for (uint64_t i = 0; i < count; ++i) {
            if (bitmap_[i >> 3] == 0) i |= 7;
            else if (bitmap_[i >> 3] >> (i & 7) & 1) v_.set_used(start + i);
        }
        return true;
    }

    const ReadFn& read_;
    const Layout& l_;
    Volume& v_;
    std::vector<uint8_t> bitmap_;
};

}  // namespace

bool probe_ext(const ReadFn& read, uint64_t base, uint64_t limit, Map& map) {
    uint8_t super[1024];
    Layout l;
    if (limit < base + 2048 || read(base + 1024, super, sizeof super) != sizeof super ||
        !parse_super(super, base, limit, l))
        return false;
    Volume v = Volume::all_free(base, l.block, l.blocks);
    v.skip_extent_nodes = true;
    if (!ExtReader(read, l, v).read_groups()) return false;
    map.add_volume(std::move(v));
    return true;
}

}  // namespace carver::fs
