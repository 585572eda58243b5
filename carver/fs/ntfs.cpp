// NTFS: the boot sector's layout, $MFT's own record for where the MFT lies,
// $Bitmap's data as the volume's map of clusters in use, and one pass over
// the MFT collecting deleted file records (name, folder through the parent
// references of other records, time, data runs). A deleted file's run list
// gives its pieces directly, however they are separated.
#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "fs/map.h"
#include "fs/ntfs.h"

namespace carver::fs {
namespace {

constexpr size_t kChunk = 1u << 20;
constexpr uint64_t kMaxRecords = 1u << 22;      // records read: 4 GiB of MFT at 1 KiB a record
constexpr size_t kMaxFolders = 1u << 18;
constexpr size_t kMaxPending = 1u << 18;
constexpr size_t kMaxPendingRuns = 1u << 20;
constexpr size_t kMaxResidentBytes = 16u << 20;
constexpr int kMaxDepth = 32;
constexpr uint64_t kRootRecord = 5, kBitmapRecord = 6;
constexpr uint32_t kStdInfo = 0x10, kAttrList = 0x20, kFileName = 0x30, kData = 0x80, kEnd = 0xFFFFFFFF;
constexpr uint16_t kInUse = 1, kDirectory = 2;
constexpr uint16_t kCompressed = 0x00FF, kEncrypted = 0x4000;
constexpr uint64_t kRefMask = 0xFFFFFFFFFFFFull;

uint64_t rd_le64(const uint8_t* p) { return rd_le32(p) | uint64_t(rd_le32(p + 4)) << 32; }

struct Layout {
    uint64_t base = 0;
    uint64_t cluster_size = 0;
    uint64_t clusters = 0;
    uint64_t mft_lcn = 0;
    uint32_t record_size = 0;
};

bool parse_boot(const uint8_t* b, uint64_t base, uint64_t limit, Layout& l) {
    if (std::memcmp(b + 3, "NTFS    ", 8) != 0 || b[510] != 0x55 || b[511] != 0xAA) return false;
    uint64_t bps = rd_le16(b + 11), spc = b[13];
    if (bps < 256 || bps > 4096 || (bps & (bps - 1)) || spc == 0) return false;
    if (spc > 0x80) spc = 256 - spc > 12 ? 0 : uint64_t(1) << (256 - spc);  // a power of two, as its exponent
    if (spc == 0 || (spc & (spc - 1))) return false;
    l.base = base;
    l.cluster_size = bps * spc;
    uint64_t sectors = rd_le64(b + 0x28);
    if (l.cluster_size < 512 || l.cluster_size > (2u << 20) || sectors == 0 || limit <= base ||
        sectors > (limit - base) / bps)
        return false;
    l.clusters = sectors / spc;
    l.mft_lcn = rd_le64(b + 0x30);
    // Clusters per record when positive, else the record is 2^-n bytes.
    int8_t cpr = static_cast<int8_t>(b[0x40]);
    uint64_t rs = cpr > 0 ? uint64_t(cpr) * l.cluster_size : cpr < -8 && cpr >= -16 ? uint64_t(1) << -cpr : 0;
    if (rs < 512 || rs > 65536 || (rs & (rs - 1)) || l.clusters == 0 || l.mft_lcn >= l.clusters) return false;
    l.record_size = static_cast<uint32_t>(rs);
    return true;
}

// The attribute's value bytes, or nullptr when they do not lie inside it.
const uint8_t* resident_value(const uint8_t* a, uint32_t len, uint32_t& size) {
    if (a[8] != 0 || len < 0x18) return nullptr;
    size = rd_le32(a + 0x10);
    uint32_t off = rd_le16(a + 0x14);
    if (off > len || size > len - off) return nullptr;
    return a + off;
}

int64_t unix_time(uint64_t filetime) {
    constexpr uint64_t kEpoch = 116444736000000000ull;  // 1970 in 100 ns steps since 1601
    if (filetime <= kEpoch || filetime >= kEpoch + (uint64_t(1) << 62)) return -1;
    return static_cast<int64_t>((filetime - kEpoch) / 10000000);
}

// Calls fn(type, attribute, length) for each attribute of a record whose
// fixups were applied, while the lengths stay inside the bytes in use.
template <class Fn> void for_each_attr(const uint8_t* r, size_t size, Fn&& fn) {
    size_t end = std::min<size_t>(size, rd_le32(r + 0x18));
    size_t at = rd_le16(r + 0x14);
    while (at + 16 <= end) {
        uint32_t type = rd_le32(r + at), len = rd_le32(r + at + 4);
        if (type == kEnd || len < 16 || len > end - at) break;
        fn(type, r + at, len);
        at += len;
    }
}

// The attribute's runs when it is the unnamed, uncompressed data from its first cluster on.
bool data_runs(const uint8_t* a, uint32_t len, uint64_t clusters, std::vector<Run>& runs, uint64_t& size) {
    if (a[8] != 1 || a[9] != 0 || len < 0x40 || (rd_le16(a + 0x0C) & (kCompressed | kEncrypted)) ||
        rd_le64(a + 0x10) != 0)
        return false;
    uint32_t off = rd_le16(a + 0x20);
    size = rd_le64(a + 0x30);
    return off < len && decode_runs(a + off, len - off, clusters, runs);
}

// The MFT's own data (or any non-resident data) read by byte offset through its runs.
class RunReader {
public:
    RunReader(const ReadFn& read, const Layout& l, std::vector<Run> runs) : read_(read), l_(l), runs_(std::move(runs)) {
        uint64_t vcn = 0;
        for (const Run& r : runs_) {
            starts_.push_back(vcn);
            vcn += r.length;
        }
        bytes_ = vcn * l_.cluster_size;
    }
    uint64_t bytes() const { return bytes_; }

    // The device offset of a byte offset (one that read() reached).
    uint64_t absolute(uint64_t off) const {
        uint64_t vcn = off / l_.cluster_size;
        size_t i = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), vcn) - starts_.begin() - 1);
        return l_.base + runs_[i].lcn * l_.cluster_size + (off - starts_[i] * l_.cluster_size);
    }

    // False when a piece lies in a sparse run or cannot be read.
    bool read(uint64_t off, uint8_t* buf, size_t n) {
        if (off > bytes_ || n > bytes_ - off) return false;
        while (n > 0) {
            uint64_t vcn = off / l_.cluster_size;
            size_t i = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), vcn) - starts_.begin() - 1);
            const Run& r = runs_[i];
            if (r.lcn == kSparse) return false;
            uint64_t in_run = off - starts_[i] * l_.cluster_size;
            size_t take = static_cast<size_t>(std::min<uint64_t>(n, r.length * l_.cluster_size - in_run));
            if (read_(l_.base + r.lcn * l_.cluster_size + in_run, buf, take) != take) return false;
            off += take;
            buf += take;
            n -= take;
        }
        return true;
    }

private:
    const ReadFn& read_;
    const Layout& l_;
    std::vector<Run> runs_;
    std::vector<uint64_t> starts_;  // first VCN of each run
    uint64_t bytes_ = 0;
};

struct Folder {
    uint64_t parent;
    uint16_t parent_seq, seq;
    bool in_use;
    std::string name;
};

struct Pending {
    uint64_t parent;
    uint16_t parent_seq;
    std::string name;
    int64_t mtime;
    uint64_t size;
    std::vector<Run> runs;
    std::vector<uint8_t> resident;
    uint64_t resident_at;  // absolute offset of the resident bytes
};

// What one record says, as far as this reader needs it.
struct Record {
    uint16_t flags = 0;
    std::string name;
    int name_rank = -1;  // Win32 and POSIX names rank above DOS 8.3 ones
    uint64_t parent = 0;
    uint16_t parent_seq = 0;
    int64_t mtime = -1, fn_mtime = -1;
    bool has_data = false, list = false;
    uint64_t size = 0;
    std::vector<Run> runs;
    std::vector<uint8_t> resident;
    size_t resident_at = 0;  // offset in the record
};

class NtfsReader {
public:
    NtfsReader(const ReadFn& read, const Layout& l, Map& map) : read_(read), l_(l), map_(map) {}

    bool load(Volume& v) {
        std::vector<uint8_t> rec(l_.record_size);
        if (read_(l_.base + l_.mft_lcn * l_.cluster_size, rec.data(), rec.size()) != rec.size() ||
            !apply_fixups(rec.data(), rec.size()))
            return false;
        Record mft = parse(rec.data());
        if (!(mft.flags & kInUse) || !mft.has_data || mft.runs.empty() || mft.runs[0].lcn != l_.mft_lcn)
            return false;
        mft_ = std::make_unique<RunReader>(read_, l_, std::move(mft.runs));
        records_ = std::min({mft.size, mft_->bytes()}) / l_.record_size;
        if (records_ <= kBitmapRecord) return false;
        records_ = std::min(records_, kMaxRecords);
        if (!mft_->read(kBitmapRecord * l_.record_size, rec.data(), rec.size()) || !apply_fixups(rec.data(), rec.size()))
            return false;
        Record bitmap = parse(rec.data());
        if (!(bitmap.flags & kInUse) || !bitmap.has_data || bitmap.size < (l_.clusters + 7) / 8) return false;
        v.data_start = l_.base;
        v.cluster_size = l_.cluster_size;
        v.clusters = l_.clusters;
        v.used.assign((l_.clusters + 63) / 64, 0);
        return read_bitmap(RunReader(read_, l_, std::move(bitmap.runs)), v);
    }

    // One pass over the MFT, then the deleted files' folders from what it kept.
    void collect(const Volume& v) {
        size_t per_chunk = kChunk / l_.record_size;
        std::vector<uint8_t> buf(per_chunk * l_.record_size);
        for (uint64_t i0 = 0; i0 < records_; i0 += per_chunk) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(per_chunk, records_ - i0));
            if (!mft_->read(i0 * l_.record_size, buf.data(), n * l_.record_size)) {
                // A piece that cannot be read: go on record by record.
                for (size_t k = 0; k < n; ++k)
                    if (mft_->read((i0 + k) * l_.record_size, &buf[k * l_.record_size], l_.record_size))
                        record(i0 + k, &buf[k * l_.record_size]);
                continue;
            }
            for (size_t k = 0; k < n; ++k) record(i0 + k, &buf[k * l_.record_size]);
        }
        for (Pending& p : pending_) add(p, v);
    }

private:
    bool read_bitmap(RunReader bits, Volume& v) {
        uint64_t bytes = (l_.clusters + 7) / 8;
        std::vector<uint8_t> buf(kChunk);
        for (uint64_t done = 0; done < bytes;) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(kChunk, bytes - done));
            if (!bits.read(done, buf.data(), take)) return false;
            for (size_t i = 0; i < take; ++i)
                if (buf[i]) v.used[(done + i) >> 3] |= uint64_t(buf[i]) << (((done + i) & 7) * 8);
            done += take;
        }
        return true;
    }

    Record parse(const uint8_t* r) const {
        Record rec;
        rec.flags = rd_le16(r + 0x16);
        for_each_attr(r, l_.record_size, [&](uint32_t type, const uint8_t* a, uint32_t len) {
            uint32_t size = 0;
            if (type == kStdInfo) {
                const uint8_t* val = resident_value(a, len, size);
                if (val && size >= 0x10) rec.mtime = unix_time(rd_le64(val + 8));
            } else if (type == kFileName) {
                const uint8_t* val = resident_value(a, len, size);
                if (!val || size < 0x42 || 0x42u + 2u * val[0x40] > size) return;
                int rank = val[0x41] == 2 ? 0 : 1;
                if (rank <= rec.name_rank) return;
                std::u16string name;
                for (int k = 0; k < val[0x40]; ++k) name += static_cast<char16_t>(rd_le16(val + 0x42 + 2 * k));
                rec.name = sanitize_name(utf16_to_utf8(name));
                rec.name_rank = rank;
                rec.parent = rd_le64(val) & kRefMask;
                rec.parent_seq = rd_le16(val + 6);
                rec.fn_mtime = unix_time(rd_le64(val + 0x10));
            } else if (type == kAttrList) {
                rec.list = true;
            } else if (type == kData && !rec.has_data && a[9] == 0 && a[8] == 0) {
                const uint8_t* val = resident_value(a, len, size);
                if (!val) return;
                rec.has_data = true;
                rec.size = size;
                rec.resident.assign(val, val + size);
                rec.resident_at = static_cast<size_t>(val - r);
            } else if (type == kData && !rec.has_data && a[9] == 0) {
                std::vector<Run> runs;
                uint64_t size64 = 0;
                if (data_runs(a, len, l_.clusters, runs, size64)) {
                    rec.has_data = true;
                    rec.size = size64;
                    rec.runs = std::move(runs);
                }
            }
        });
        return rec;
    }

    void record(uint64_t no, uint8_t* r) {
        if (!apply_fixups(r, l_.record_size) || (rd_le64(r + 0x20) & kRefMask) != 0) return;  // extension records
        Record rec = parse(r);
        if (rec.name_rank < 0) return;
        if (rec.flags & kDirectory) {
            if (folders_.size() < kMaxFolders)
                folders_[no] = {rec.parent, rec.parent_seq, rd_le16(r + 0x10), bool(rec.flags & kInUse), rec.name};
            return;
        }
        if ((rec.flags & kInUse) || !rec.has_data || rec.size == 0 || pending_.size() >= kMaxPending ||
            pending_runs_ + rec.runs.size() > kMaxPendingRuns || resident_bytes_ + rec.resident.size() > kMaxResidentBytes)
            return;
        pending_runs_ += rec.runs.size();
        resident_bytes_ += rec.resident.size();
        pending_.push_back({rec.parent, rec.parent_seq, rec.name, rec.mtime >= 0 ? rec.mtime : rec.fn_mtime, rec.size,
                            std::move(rec.runs), std::move(rec.resident),
                            mft_->absolute(no * l_.record_size + rec.resident_at)});
    }

    // Whether folder record f is still the one a reference with sequence
    // number `seq` meant: freeing a record counts its sequence number up once.
    static bool same(const Folder& f, uint16_t seq) {
        return f.seq == seq || (!f.in_use && f.seq == static_cast<uint16_t>(seq + 1));
    }

    // The folder path of a record, through live and deleted folders alike;
    // a chain that loops, runs too deep or reaches a record used again since
    // is cut there.
    std::string path_of(uint64_t no, uint16_t seq) {
        std::vector<uint64_t> chain;
        std::string path;
        for (int depth = 0; no != kRootRecord; ++depth) {
            auto memo = paths_.find(no);
            if (memo != paths_.end()) {
                path = memo->second;
                break;
            }
            auto it = folders_.find(no);
            if (it == folders_.end() || !same(it->second, seq) || depth >= kMaxDepth ||
                std::find(chain.begin(), chain.end(), no) != chain.end())
                break;
            chain.push_back(no);
            no = it->second.parent;
            seq = it->second.parent_seq;
        }
        for (size_t k = chain.size(); k-- > 0;) {
            const std::string& name = folders_[chain[k]].name;
            path = path.empty() ? name : path + "/" + name;
            paths_[chain[k]] = path;
        }
        return path;
    }

    void add(Pending& p, const Volume& v) {
        if (!p.resident.empty()) {
            DeletedEntry e;
            e.start = p.resident_at;
            e.size = p.resident.size();
            e.folder = path_of(p.parent, p.parent_seq);
            e.name = std::move(p.name);
            e.mtime = p.mtime;
            e.resident = std::move(p.resident);
            map_.add_entry(std::move(e));
            return;
        }
        if (p.runs.empty() || p.runs[0].lcn == kSparse || v.is_used(p.runs[0].lcn)) return;
        DeletedEntry e;
        e.start = v.offset_of(p.runs[0].lcn);
        e.size = p.size;
        e.folder = path_of(p.parent, p.parent_seq);
        e.name = std::move(p.name);
        e.mtime = p.mtime;
        // Its pieces, when every cluster that holds its bytes is still free.
        uint64_t left = p.size;
        bool free = true;
        for (const Run& r : p.runs) {
            if (left == 0) break;
            uint64_t bytes = std::min(left, r.length * v.cluster_size);
            free = free && r.lcn != kSparse && v.next_used(r.lcn) >= r.lcn + (bytes + v.cluster_size - 1) / v.cluster_size;
            if (!free) break;
            uint64_t at = v.offset_of(r.lcn);
            if (!e.pieces.empty() && e.pieces.back().first + e.pieces.back().second == at)
                e.pieces.back().second += bytes;
            else
                e.pieces.emplace_back(at, bytes);
            left -= bytes;
        }
        if (!free || left != 0) e.pieces.clear();
        map_.add_entry(std::move(e));
    }

    const ReadFn& read_;
    const Layout& l_;
    Map& map_;
    std::unique_ptr<RunReader> mft_;
    uint64_t records_ = 0;
    std::unordered_map<uint64_t, Folder> folders_;
    std::unordered_map<uint64_t, std::string> paths_;
    std::vector<Pending> pending_;
    size_t pending_runs_ = 0, resident_bytes_ = 0;
};

}  // namespace

bool apply_fixups(uint8_t* r, size_t size) {
    if (size < 512 || size % 512 || std::memcmp(r, "FILE", 4) != 0) return false;
    uint32_t off = rd_le16(r + 4), count = rd_le16(r + 6);
    if (count != size / 512 + 1 || off < 8 || (off & 1) || off + 2 * count > 510 || rd_le16(r + 0x14) < off + 2 * count)
        return false;
    uint16_t usn = rd_le16(r + off);
    for (uint32_t i = 1; i < count; ++i) {
        uint8_t* end = r + i * 512 - 2;
        if (rd_le16(end) != usn) return false;
        std::memcpy(end, r + off + 2 * i, 2);
    }
    return true;
}

bool decode_runs(const uint8_t* p, size_t n, uint64_t clusters, std::vector<Run>& out) {
    uint64_t lcn = 0;
    for (size_t at = 0; at < n && p[at] != 0;) {
        unsigned len_bytes = p[at] & 15, off_bytes = p[at] >> 4;
        if (len_bytes == 0 || len_bytes > 8 || off_bytes > 8 || 1 + len_bytes + off_bytes > n - at) return false;
        uint64_t len = 0, delta = 0;
        for (unsigned k = 0; k < len_bytes; ++k) len |= uint64_t(p[at + 1 + k]) << (8 * k);
        for (unsigned k = 0; k < off_bytes; ++k) delta |= uint64_t(p[at + 1 + len_bytes + k]) << (8 * k);
        if (off_bytes > 0 && off_bytes < 8 && (delta >> (8 * off_bytes - 1)) & 1) delta |= ~uint64_t(0) << (8 * off_bytes);
        at += 1 + len_bytes + off_bytes;
        if (len == 0 || len > clusters || out.size() >= kMaxRuns) return false;
        if (off_bytes == 0) {
            out.push_back({kSparse, len});
            continue;
        }
        lcn += delta;  // signed step, modulo 2^64: a step below zero wraps past `clusters`
        if (lcn >= clusters || len > clusters - lcn) return false;
        out.push_back({lcn, len});
    }
    return true;
}

bool probe_ntfs(const ReadFn& read, uint64_t base, uint64_t limit, Map& map) {
    uint8_t boot[512];
    Layout l;
    if (read(base, boot, sizeof boot) != sizeof boot || !parse_boot(boot, base, limit, l)) return false;
    Volume v;
    NtfsReader r(read, l, map);
    if (!r.load(v)) return false;
    r.collect(v);
    map.add_volume(std::move(v));
    return true;
}

}  // namespace carver::fs
