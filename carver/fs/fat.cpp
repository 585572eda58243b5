// FAT12, FAT16 and FAT32: the boot sector's layout, the first FAT turned into
// a bitmap of clusters in use, and a walk of the directory tree (live folders
// by their cluster chains, deleted ones by their free clusters) collecting
// deleted file entries with their short and long names.
#include <algorithm>
#include <cstring>
#include <deque>
#include <unordered_set>

#include "fs/map.h"

namespace carver::fs {
namespace {

constexpr size_t kFatChunk = 12 * 65536;       // divisible by the 1.5-, 2- and 4-byte entry sizes
constexpr uint64_t kMaxDirBytes = 2u << 20;    // 65536 entries, the most a FAT folder holds
constexpr size_t kMaxFolders = 1u << 16;
constexpr int kMaxDepth = 32;

struct Layout {
    int bits = 0;               // 12, 16 or 32
    uint64_t fat_off = 0;       // absolute
    uint64_t root_off = 0;      // FAT12/16: fixed root folder
    uint64_t root_bytes = 0;
    uint32_t root_cluster = 0;  // FAT32
    uint64_t data_start = 0;
    uint64_t cluster_size = 0;
    uint64_t clusters = 0;
};

bool parse_boot(const uint8_t* b, uint64_t base, uint64_t limit, Layout& l) {
    if (b[510] != 0x55 || b[511] != 0xAA || (b[0] != 0xEB && b[0] != 0xE9)) return false;
    uint32_t bps = rd_le16(b + 11), spc = b[13], reserved = rd_le16(b + 14), nfats = b[16];
    uint32_t root_entries = rd_le16(b + 17);
    uint64_t total = rd_le16(b + 19) ? rd_le16(b + 19) : rd_le32(b + 32);
    uint64_t fat_sectors = rd_le16(b + 22) ? rd_le16(b + 22) : rd_le32(b + 36);
    if ((bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) || spc == 0 || (spc & (spc - 1)) ||
        reserved == 0 || nfats == 0 || nfats > 4 || fat_sectors == 0 || total == 0 || b[21] < 0xF0)
        return false;
    uint64_t root_sectors = (uint64_t(root_entries) * 32 + bps - 1) / bps;
    uint64_t first_data = reserved + nfats * fat_sectors + root_sectors;
    if (first_data >= total || base + total * bps > limit) return false;
    l.clusters = (total - first_data) / spc;
    l.bits = l.clusters < 4085 ? 12 : l.clusters < 65525 ? 16 : 32;
    if ((l.bits == 32) != (rd_le16(b + 22) == 0) || (l.bits == 32 && root_entries != 0)) return false;
    if (fat_sectors * bps * 8 / l.bits < l.clusters + 2) return false;  // FAT too small for the area
    l.fat_off = base + uint64_t(reserved) * bps;
    l.root_off = base + (reserved + nfats * fat_sectors) * bps;
    l.root_bytes = root_sectors * bps;
    l.root_cluster = l.bits == 32 ? rd_le32(b + 44) & 0x0FFFFFFF : 0;
    l.cluster_size = uint64_t(spc) * bps;
    l.data_start = base + first_data * bps;
    return l.bits != 32 || (l.root_cluster >= 2 && l.root_cluster < l.clusters + 2);
}

uint32_t fat_entry(const uint8_t* p, uint64_t index_in_chunk, int bits) {
    if (bits == 32) return rd_le32(p + index_in_chunk * 4) & 0x0FFFFFFF;
    if (bits == 16) return rd_le16(p + index_in_chunk * 2);
    uint16_t v = rd_le16(p + index_in_chunk * 3 / 2);
    return index_in_chunk & 1 ? v >> 4 : v & 0xFFF;
}

// Streams the first FAT into the volume's bitmap, a chunk at a time.
bool read_allocation(const ReadFn& read, const Layout& l, Volume& v) {
    uint64_t entries = l.clusters + 2;
    uint64_t bytes = (entries * l.bits + 7) / 8;
    std::vector<uint8_t> chunk(std::min<uint64_t>(bytes, kFatChunk) + 4, 0);
    for (uint64_t off = 0; off < bytes; off += kFatChunk) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(kFatChunk, bytes - off));
        if (read(l.fat_off + off, chunk.data(), want) != want) return false;
        uint64_t first = off * 8 / l.bits;
        uint64_t last = std::min<uint64_t>(entries, (off + want) * 8 / l.bits);
        for (uint64_t n = std::max<uint64_t>(first, 2); n < last; ++n)
            if (fat_entry(chunk.data(), n - first, l.bits) != 0) v.set_used(n - 2);
    }
    return true;
}

class FatReader {
public:
    FatReader(const ReadFn& read, const Layout& l, const Volume& v, Map& map)
        : read_(read), l_(l), v_(v), map_(map) {}

    void walk() {
        jobs_.push_back({0, "", false, 0});
        while (!jobs_.empty() && folders_ < kMaxFolders) {
            Job j = std::move(jobs_.front());
            jobs_.pop_front();
            ++folders_;
            std::vector<uint8_t> dir = load(j);
            parse(dir, j);
        }
    }

private:
    struct Job {
        uint32_t cluster;  // 0: the root folder
        std::string folder;
        bool deleted;
        int depth;
    };

    bool in_range(uint32_t c) const { return c >= 2 && c - 2u < l_.clusters; }
    bool is_free(uint32_t c) const { return in_range(c) && !v_.is_used(c - 2u); }

    uint32_t next_cluster(uint32_t c) {
        uint64_t at = l_.fat_off + uint64_t(c) * l_.bits / 8;
        uint8_t b[4] = {};
        if (read_(at, b, l_.bits == 32 ? 4 : 2) == 0) return 0;
        if (l_.bits == 12) return c & 1 ? rd_le16(b) >> 4 : rd_le16(b) & 0xFFF;
        return l_.bits == 16 ? rd_le16(b) : rd_le32(b) & 0x0FFFFFFF;
    }

    bool append_cluster(std::vector<uint8_t>& out, uint32_t c) {
        if (!visited_.insert(c).second) return false;
        size_t at = out.size();
        out.resize(at + l_.cluster_size);
        if (read_(v_.offset_of(c - 2u), &out[at], l_.cluster_size) != l_.cluster_size) {
            out.resize(at);
            return false;
        }
        return true;
    }

    // A live folder follows its chain; a deleted one, whose chain is gone,
    // its run of free clusters (the way it was most likely written).
    std::vector<uint8_t> load(const Job& j) {
        std::vector<uint8_t> out;
        if (j.cluster == 0 && l_.bits != 32) {
            out.resize(static_cast<size_t>(std::min(l_.root_bytes, kMaxDirBytes)));
            out.resize(read_(l_.root_off, out.data(), out.size()));
            return out;
        }
        uint32_t c = j.cluster == 0 ? l_.root_cluster : j.cluster;
        while (in_range(c) && out.size() + l_.cluster_size <= kMaxDirBytes) {
            if (j.deleted ? !is_free(c) : !v_.is_used(c - 2u)) break;
            if (!append_cluster(out, c)) break;
            if (j.deleted) {
                if (has_end_mark(out.data() + out.size() - l_.cluster_size)) break;
                ++c;
            } else {
                c = next_cluster(c);
            }
        }
        return out;
    }

    bool has_end_mark(const uint8_t* cluster) const {
        for (uint64_t at = 0; at < l_.cluster_size; at += 32)
            if (cluster[at] == 0) return true;
        return false;
    }

    static uint8_t checksum(const uint8_t* short_name) {
        uint8_t sum = 0;
        for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + short_name[i]);
        return sum;
    }

    static std::string short_name(const uint8_t* e, char first) {
        auto part = [&](int from, int n, bool low) {
            std::string s;
            for (int i = from; i < from + n; ++i) {
                char ch = static_cast<char>(e[i]);
                if (i == 0) ch = first;
                if (static_cast<unsigned char>(ch) >= 0x80) ch = '_';
                if (low && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
                s += ch;
            }
            while (!s.empty() && s.back() == ' ') s.pop_back();
            return s;
        };
        std::string base = part(0, 8, e[12] & 0x08), ext = part(8, 3, e[12] & 0x10);
        return ext.empty() ? base : base + "." + ext;
    }

    // Long name from the LFN entries that precede a short entry (last part first).
    static std::string long_name(const std::vector<const uint8_t*>& lfn) {
        std::u16string s;
        static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (auto it = lfn.rbegin(); it != lfn.rend(); ++it)
            for (int o : kOffsets) {
                char16_t ch = rd_le16(*it + o);
                if (ch == 0) return utf16_to_utf8(s);
                if (ch != 0xFFFF) s += ch;
            }
        return utf16_to_utf8(s);
    }

    static int64_t dos_time(uint16_t date, uint16_t time) {
        std::tm tm{};
        tm.tm_year = 80 + (date >> 9);
        tm.tm_mon = ((date >> 5) & 15) - 1;
        tm.tm_mday = date & 31;
        tm.tm_hour = time >> 11;
        tm.tm_min = (time >> 5) & 63;
        tm.tm_sec = (time & 31) * 2;
        tm.tm_isdst = -1;  // FAT keeps local time
        if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday == 0 || tm.tm_hour > 23 || tm.tm_min > 59 ||
            tm.tm_sec > 59)
            return -1;
        return static_cast<int64_t>(std::mktime(&tm));
    }

    void parse(const std::vector<uint8_t>& dir, const Job& j) {
        live_.clear();
        for (size_t at = 0; at + 32 <= dir.size() && dir[at] != 0 && live_.size() < 4096; at += 32)
            if (dir[at] != 0xE5 && (dir[at + 11] & 0x18) == 0) live_.push_back(&dir[at]);
        std::vector<const uint8_t*> lfn;
        for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
            const uint8_t* e = &dir[at];
            if (e[0] == 0) break;
            uint8_t attr = e[11];
            if (attr == 0x0F) {
                if (!lfn.empty() && lfn.back()[13] != e[13]) lfn.clear();
                if (lfn.size() < 20) lfn.push_back(e);
                continue;
            }
            bool deleted = e[0] == 0xE5;
            entry(e, attr, deleted, lfn, j);
            lfn.clear();
        }
    }

    // A deleted short name has lost its first character. Camera file names
    // are four characters and four digits, the same four for a folder's
    // files: a live file whose name differs only in the digits tells it
    // back. Otherwise (or when live names disagree) it stays '_'.
    char camera_first(const uint8_t* raw) const {
        auto digits = [](const uint8_t* n) {
            return std::all_of(n + 4, n + 8, [](uint8_t c) { return c >= '0' && c <= '9'; });
        };
        if (!digits(raw)) return '_';
        char first = 0;
        for (const uint8_t* n : live_) {
            if (std::memcmp(n + 1, raw + 1, 3) != 0 || std::memcmp(n + 8, raw + 8, 3) != 0 || !digits(n) ||
                n[0] < 0x21 || n[0] >= 0x7F)
                continue;
            if (first && first != static_cast<char>(n[0])) return '_';
            first = static_cast<char>(n[0]);
        }
        return first ? first : '_';
    }

    void entry(const uint8_t* e, uint8_t attr, bool deleted, const std::vector<const uint8_t*>& lfn,
               const Job& j) {
        if (attr & 0x08 || e[0] == '.') return;  // volume label, "." and ".."
        uint8_t raw[11];
        std::memcpy(raw, e, 11);
        if (raw[0] == 0x05) raw[0] = 0xE5;
        char first = static_cast<char>(raw[0]);
        std::string name;
        if (!lfn.empty()) {
            if (deleted) {  // the first byte is lost: the checksum tells it back
                for (int b = 0x21; b < 0x100 && name.empty(); ++b) {
                    raw[0] = static_cast<uint8_t>(b);
                    if (b != 0xE5 && checksum(raw) == lfn[0][13]) name = long_name(lfn);
                }
                if (!name.empty()) first = static_cast<char>(raw[0]);
            } else if (checksum(raw) == lfn[0][13]) {
                name = long_name(lfn);
            }
        }
        if (deleted && name.empty()) first = camera_first(raw);
        if (name.empty()) name = short_name(e, first);
        name = sanitize_name(name);

        uint32_t cluster = rd_le16(e + 26) | (l_.bits == 32 ? uint32_t(rd_le16(e + 20)) << 16 : 0);
        bool gone = deleted || j.deleted;
        if (attr & 0x10) {
            if (j.depth + 1 > kMaxDepth || !in_range(cluster)) return;
            if (gone ? !is_free(cluster) : !v_.is_used(cluster - 2u)) return;
            jobs_.push_back({cluster, j.folder.empty() ? name : j.folder + "/" + name, gone, j.depth + 1});
            return;
        }
        uint32_t size = rd_le32(e + 28);
        if (!gone || size == 0 || !is_free(cluster)) return;
        DeletedEntry d;
        d.start = v_.offset_of(cluster - 2u);
        d.size = size;
        d.folder = j.folder;
        d.name = name;
        d.mtime = dos_time(rd_le16(e + 24), rd_le16(e + 22));
        map_.add_entry(std::move(d));
    }

    const ReadFn& read_;
    const Layout& l_;
    const Volume& v_;
    Map& map_;
    std::deque<Job> jobs_;
    std::unordered_set<uint32_t> visited_;
    std::vector<const uint8_t*> live_;  // short names of the folder being parsed
    size_t folders_ = 0;
};

}  // namespace

bool probe_fat(const ReadFn& read, uint64_t base, uint64_t limit, Map& map) {
    uint8_t boot[512];
    Layout l;
    if (read(base, boot, sizeof boot) != sizeof boot || !parse_boot(boot, base, limit, l)) return false;
    Volume v = Volume::all_free(l.data_start, l.cluster_size, l.clusters);
    if (!read_allocation(read, l, v)) return false;
    FatReader(read, l, v, map).walk();
    map.add_volume(std::move(v));
    return true;
}

}  // namespace carver::fs
