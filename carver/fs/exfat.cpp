// exFAT: the boot sector's layout, the allocation bitmap (the root folder's
// bitmap entry) as the volume's map of clusters in use, and a walk of the
// folders collecting deleted file entry sets (file, stream extension, names).
#include <algorithm>
#include <cstring>
#include <deque>
#include <unordered_set>

#include "fs/map.h"

namespace carver::fs {
namespace {

constexpr uint64_t kMaxDirBytes = 16u << 20;  // far beyond any real folder
constexpr size_t kMaxFolders = 1u << 16;
constexpr int kMaxDepth = 32;
constexpr size_t kChunk = 1u << 20;

struct Layout {
    uint64_t fat_off = 0;
    uint64_t heap = 0;  // absolute offset of cluster 2
    uint64_t cluster_size = 0;
    uint32_t clusters = 0;
    uint32_t root = 0;
};

bool parse_boot(const uint8_t* b, uint64_t base, uint64_t limit, Layout& l) {
    if (std::memcmp(b + 3, "EXFAT   ", 8) != 0 || b[510] != 0x55 || b[511] != 0xAA) return false;
    int bps = b[108], spc = b[109];
    if (bps < 9 || bps > 12 || spc > 25 - bps) return false;
    uint64_t sector = uint64_t(1) << bps;
    uint64_t length = (rd_le32(b + 72) | uint64_t(rd_le32(b + 76)) << 32);
    uint64_t fat = rd_le32(b + 80), heap = rd_le32(b + 88);
    l.clusters = rd_le32(b + 92);
    l.root = rd_le32(b + 96);
    l.cluster_size = sector << spc;
    if (length == 0 || length > (limit - base) / sector || fat == 0 || heap == 0 || l.clusters == 0 ||
        l.clusters > 0xFFFFFFF5u || heap + (uint64_t(l.clusters) << spc) > length ||
        l.root < 2 || l.root - 2u >= l.clusters)
        return false;
    l.fat_off = base + fat * sector;
    l.heap = base + heap * sector;
    return true;
}

class ExfatReader {
public:
    ExfatReader(const ReadFn& read, const Layout& l, Volume& v, Map& map) : read_(read), l_(l), v_(v), map_(map) {}

    bool load_bitmap() {
        std::vector<uint8_t> root = chain(l_.root, 0, false, false);
        for (size_t at = 0; at + 32 <= root.size(); at += 32) {
            const uint8_t* e = &root[at];
            if (e[0] == 0) break;
            if (e[0] != 0x81 || (e[1] & 1)) continue;  // the first FAT's bitmap
            uint32_t first = rd_le32(e + 20);
            uint64_t len = rd_le32(e + 24) | uint64_t(rd_le32(e + 28)) << 32;
            if (!in_range(first) || len < (uint64_t(l_.clusters) + 7) / 8) return false;
            return read_bitmap(first);
        }
        return false;
    }

    void walk() {
        visited_.clear();  // the root was read once for its bitmap entry
        jobs_.push_back({l_.root, 0, false, false, "", 0});
        while (!jobs_.empty() && folders_ < kMaxFolders) {
            Job j = std::move(jobs_.front());
            jobs_.pop_front();
            ++folders_;
            parse(chain(j.cluster, j.length, j.contiguous, j.deleted), j);
        }
    }

private:
    struct Job {
        uint32_t cluster;
        uint64_t length;  // 0: follow the chain to its end
        bool contiguous, deleted;
        std::string folder;
        int depth;
    };

    bool in_range(uint32_t c) const { return c >= 2 && c - 2u < l_.clusters; }
    bool is_free(uint32_t c) const { return in_range(c) && !v_.is_used(c - 2u); }

    // The bitmap is read cluster by cluster along its chain, straight into the map.
    bool read_bitmap(uint32_t c) {
        uint64_t bytes = (uint64_t(l_.clusters) + 7) / 8, done = 0;
        std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(l_.cluster_size, kChunk)));
        for (uint64_t steps = 0; done < bytes && in_range(c) && steps <= l_.clusters; ++steps) {
            for (uint64_t off = 0; off < l_.cluster_size && done < bytes; off += buf.size()) {
                size_t take = static_cast<size_t>(std::min<uint64_t>({buf.size(), bytes - done, l_.cluster_size - off}));
                if (read_(cluster_off(c) + off, buf.data(), take) != take) return false;
                for (size_t i = 0; i < take; ++i)
                    if (buf[i]) v_.used[(done + i) >> 3] |= uint64_t(buf[i]) << (((done + i) & 7) * 8);
                done += take;
            }
            uint32_t next = fat_next(c);
            c = next == 0 ? c + 1 : next;  // a contiguous bitmap has no chain
        }
        return done == bytes;
    }

    uint64_t cluster_off(uint32_t c) const { return l_.heap + uint64_t(c - 2u) * l_.cluster_size; }

    uint32_t fat_next(uint32_t c) {
        uint8_t b[4];
        if (read_(l_.fat_off + uint64_t(c) * 4, b, 4) != 4) return 0xFFFFFFFF;
        return rd_le32(b);
    }

    std::vector<uint8_t> chain(uint32_t c, uint64_t length, bool contiguous, bool deleted) {
        std::vector<uint8_t> out;
        uint64_t cap = std::min(kMaxDirBytes, length ? length : kMaxDirBytes);
        while (in_range(c) && out.size() + l_.cluster_size <= std::max<uint64_t>(cap, l_.cluster_size)) {
            if (deleted ? !is_free(c) : (!v_.used.empty() && !v_.is_used(c - 2u) && folders_ > 0)) break;
            if (!visited_.insert(c).second) break;
            size_t at = out.size();
            out.resize(at + l_.cluster_size);
            if (read_(cluster_off(c), &out[at], l_.cluster_size) != l_.cluster_size) {
                out.resize(at);
                break;
            }
            if (length && out.size() >= length) break;
            if (contiguous || deleted) {
                ++c;
            } else {
                c = fat_next(c);
            }
        }
        return out;
    }

    static int64_t timestamp(uint32_t ts, uint8_t utc_offset) {
        std::tm tm{};
        tm.tm_year = 80 + (ts >> 25);
        tm.tm_mon = static_cast<int>((ts >> 21) & 15) - 1;
        tm.tm_mday = (ts >> 16) & 31;
        tm.tm_hour = (ts >> 11) & 31;
        tm.tm_min = (ts >> 5) & 63;
        tm.tm_sec = (ts & 31) * 2;
        if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday == 0 || tm.tm_hour > 23 || tm.tm_min > 59 ||
            tm.tm_sec > 59)
            return -1;
        if (utc_offset & 0x80) {  // valid: signed quarter hours east of UTC
            int quarters = static_cast<int8_t>(static_cast<uint8_t>(utc_offset << 1)) / 2;
            return static_cast<int64_t>(timegm(&tm)) - quarters * 15 * 60;
        }
        tm.tm_isdst = -1;
        return static_cast<int64_t>(std::mktime(&tm));
    }

    void parse(const std::vector<uint8_t>& dir, const Job& j) {
        for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
            const uint8_t* e = &dir[at];
            if (e[0] == 0) break;
            if ((e[0] & 0x7F) != 0x05) continue;  // file entries, in use or not
            int count = e[1];
            if (count < 2 || count > 18 || at + 32 * (count + 1u) > dir.size()) continue;
            bool deleted = !(e[0] & 0x80) || j.deleted;
            const uint8_t* s = e + 32;
            if ((s[0] & 0x7F) != 0x40) continue;
            std::u16string name;
            size_t name_len = s[3];
            for (int k = 2; k <= count && name.size() < name_len; ++k) {
                const uint8_t* n = e + 32 * k;
                if ((n[0] & 0x7F) != 0x41) break;
                for (int c = 0; c < 15 && name.size() < name_len; ++c) name += static_cast<char16_t>(rd_le16(n + 2 + 2 * c));
            }
            entry(e, s, deleted, sanitize_name(utf16_to_utf8(name)), j);
            at += 32 * static_cast<size_t>(count);
        }
    }

    void entry(const uint8_t* e, const uint8_t* s, bool deleted, const std::string& name, const Job& j) {
        uint32_t first = rd_le32(s + 20);
        uint64_t length = rd_le32(s + 24) | uint64_t(rd_le32(s + 28)) << 32;
        bool contiguous = s[1] & 2;
        if (rd_le16(e + 4) & 0x10) {
            if (j.depth + 1 > kMaxDepth || !in_range(first)) return;
            if (deleted ? !is_free(first) : !v_.is_used(first - 2u)) return;
            jobs_.push_back({first, length, contiguous, deleted,
                             j.folder.empty() ? name : j.folder + "/" + name, j.depth + 1});
            return;
        }
        if (!deleted || length == 0 || !is_free(first)) return;
        DeletedEntry d;
        d.start = cluster_off(first);
        d.size = length;
        d.folder = j.folder;
        d.name = name;
        d.mtime = timestamp(rd_le32(e + 12), e[23]);
        map_.add_entry(std::move(d));
    }

    const ReadFn& read_;
    const Layout& l_;
    Volume& v_;
    Map& map_;
    std::deque<Job> jobs_;
    std::unordered_set<uint32_t> visited_;
    size_t folders_ = 0;
};

}  // namespace

bool probe_exfat(const ReadFn& read, uint64_t base, uint64_t limit, Map& map) {
    uint8_t boot[512];
    Layout l;
    if (read(base, boot, sizeof boot) != sizeof boot || !parse_boot(boot, base, limit, l)) return false;
    Volume v = Volume::all_free(l.heap, l.cluster_size, l.clusters);
    ExfatReader r(read, l, v, map);
    if (!r.load_bitmap()) return false;
    r.walk();
    map.add_volume(std::move(v));
    return true;
}

}  // namespace carver::fs
