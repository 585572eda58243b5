// NTFS: the boot sector's layout, $MFT's own record for where the MFT lies
// (its mirror's copy when that record is damaged), $Bitmap's data as the
// volume's map of clusters in use, and one pass over the MFT collecting
// deleted file records (name, folder through the parent references of other
// records, time, data runs). A deleted file's run list gives its pieces
// directly, however they are separated. Data spread over extension records
// is joined through the attribute list; compressed data is expanded unit by
// unit as it is read; encrypted data cannot be read and names nothing.
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
constexpr size_t kMaxListBytes = 256u << 10;    // an attribute list's value
constexpr size_t kMaxExtensions = 256;          // extension records followed for one file
constexpr size_t kMaxJoinedRuns = 1u << 16;     // runs of one attribute over all its extents
constexpr size_t kMaxExtensionReads = 1u << 16; // extension records read for deleted files
constexpr size_t kMaxPendingRefs = 1u << 16;
constexpr size_t kMaxListBytesRead = 16u << 20;  // non-resident attribute lists read, all files
constexpr uint32_t kUnitClusters = 16;          // the one compression unit LZNT1 data uses
constexpr uint64_t kRootRecord = 5, kBitmapRecord = 6;
constexpr uint32_t kStdInfo = 0x10, kAttrList = 0x20, kFileName = 0x30, kData = 0x80, kEnd = 0xFFFFFFFF;
constexpr uint16_t kInUse = 1, kDirectory = 2;
constexpr uint16_t kCompressed = 0x00FF, kLznt1 = 0x0001, kEncrypted = 0x4000;
constexpr uint32_t kFileEncrypted = 0x4000;  // in the standard information's file attributes
constexpr uint64_t kRefMask = 0xFFFFFFFFFFFFull;

uint64_t rd_le64(const uint8_t* p) { return rd_le32(p) | uint64_t(rd_le32(p + 4)) << 32; }

struct Layout {
    uint64_t base = 0;
    uint64_t cluster_size = 0;
    uint64_t clusters = 0;
    uint64_t mft_lcn = 0;
    uint64_t mirror_lcn = 0;  // $MFTMirr: copies of the first records
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
    l.mirror_lcn = rd_le64(b + 0x38);
    // Clusters per record when positive, else the record is 2^-n bytes.
    int8_t cpr = static_cast<int8_t>(b[0x40]);
    uint64_t rs = cpr > 0 ? uint64_t(cpr) * l.cluster_size : cpr < -8 && cpr >= -16 ? uint64_t(1) << -cpr : 0;
    if (rs < 512 || rs > 65536 || (rs & (rs - 1)) || l.clusters == 0 || l.mft_lcn >= l.clusters) return false;
    if (l.mirror_lcn >= l.clusters) l.mirror_lcn = l.mft_lcn;  // no mirror to fall back on
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

// One non-resident piece of an attribute: its runs from VCN `vcn` on.
struct Extent {
    uint64_t vcn;
    std::vector<Run> runs;
};

struct Ref {
    uint64_t no;
    uint16_t seq;
};

// What one record (with its extension records) says, as far as this reader needs it.
struct Record {
    uint16_t flags = 0;
    std::string name;
    int name_rank = -1;  // Win32 and POSIX names rank above DOS 8.3 ones
    uint64_t parent = 0;
    uint16_t parent_seq = 0;
    int64_t mtime = -1, fn_mtime = -1;
    bool has_data = false, encrypted = false, unreadable = false;
    uint64_t size = 0;
    uint32_t unit = 0;            // clusters per compression unit; 0 when stored plain
    std::vector<Extent> extents;  // the unnamed data's pieces, as found
    std::vector<Run> runs;        // joined in VCN order
    bool has_list = false;
    std::vector<uint8_t> list;    // the attribute list's value, when resident
    std::vector<Run> list_runs;   // or where it lies
    uint64_t list_size = 0;
    std::vector<Ref> refs;        // extension records it names for the data
    std::vector<uint8_t> resident;
    size_t resident_at = 0;  // offset in the record
};

struct Pending {
    uint64_t no;
    Record rec;
    uint64_t resident_at;  // absolute offset of the resident bytes
};

// Whether record header `r` is still the one a reference with sequence
// number `seq` meant: freeing a record counts its sequence number up once.
bool same_record(uint16_t now, bool in_use, uint16_t seq) {
    return now == seq || (!in_use && now == static_cast<uint16_t>(seq + 1));
}

class NtfsReader {
public:
    NtfsReader(const ReadFn& read, const Layout& l, Map& map) : read_(read), l_(l), map_(map) {}

    // $MFT's record from its own place, or from the mirror's copy when that
    // place no longer reads as one; then $Bitmap into the volume's map.
    bool load(Volume& v) {
        if (!load_mft(l_.mft_lcn) && !(l_.mirror_lcn != l_.mft_lcn && load_mft(l_.mirror_lcn))) return false;
        std::vector<uint8_t> rec(l_.record_size);
        if (!mft_->read(kBitmapRecord * l_.record_size, rec.data(), rec.size()) || !apply_fixups(rec.data(), rec.size()))
            return false;
        Record bitmap;
        parse(rec.data(), bitmap, true);
        list_refs(kBitmapRecord, bitmap);
        follow(kBitmapRecord, bitmap, true);
        join(bitmap);
        if (!(bitmap.flags & kInUse) || !bitmap.has_data || bitmap.unit || bitmap.size < (l_.clusters + 7) / 8)
            return false;
        v.data_start = l_.base;
        v.cluster_size = l_.cluster_size;
        v.clusters = l_.clusters;
        v.used.assign((l_.clusters + 63) / 64, 0);
        return read_bitmap(RunReader(read_, l_, std::move(bitmap.runs)), v);
    }

    // One pass over the MFT, then the deleted files' extension records and
    // folders from what it kept.
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
        for (Pending& p : pending_) {
            follow(p.no, p.rec, false);
            join(p.rec);
            add(p, v);
            p.rec = Record{};
        }
    }

private:
    // $MFT's data: the runs in record 0, then those its extension records
    // hold, each read through the runs known so far.
    bool load_mft(uint64_t lcn) {
        records_ = 0;
        std::vector<uint8_t> rec(l_.record_size);
        if (read_(l_.base + lcn * l_.cluster_size, rec.data(), rec.size()) != rec.size() ||
            !apply_fixups(rec.data(), rec.size()))
            return false;
        Record mft;
        parse(rec.data(), mft, true);
        join(mft);
        if (!(mft.flags & kInUse) || mft.unit || mft.runs.empty() || mft.runs[0].lcn != l_.mft_lcn) return false;
        mft_ = std::make_unique<RunReader>(read_, l_, mft.runs);
        list_refs(0, mft);
        while (!mft.refs.empty()) {  // each round reaches further into the MFT
            size_t before = mft.refs.size();
            follow(0, mft, true);
            join(mft);
            mft_ = std::make_unique<RunReader>(read_, l_, mft.runs);
            if (mft.refs.size() == before) break;
        }
        records_ = std::min({mft.size, mft_->bytes()}) / l_.record_size;
        if (!mft.has_data || records_ <= kBitmapRecord) return false;
        records_ = std::min(records_, kMaxRecords);
        return true;
    }

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

    // Adds what record r says to rec; `base` for the file's own record (an
    // extension record adds only names and pieces of the data).
    void parse(const uint8_t* r, Record& rec, bool base) const {
        if (base) rec.flags = rd_le16(r + 0x16);
        for_each_attr(r, l_.record_size, [&](uint32_t type, const uint8_t* a, uint32_t len) {
            uint32_t size = 0;
            if (!base && type != kData && type != kFileName) return;
            if (type == kStdInfo) {
                const uint8_t* val = resident_value(a, len, size);
                if (val && size >= 0x10) rec.mtime = unix_time(rd_le64(val + 8));
                if (val && size >= 0x24 && (rd_le32(val + 0x20) & kFileEncrypted)) rec.encrypted = true;
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
            } else if (type == kAttrList && !rec.has_list) {
                rec.has_list = true;
                keep_list(a, len, rec);
            } else if (type == kData && a[9] == 0) {
                data(r, a, len, rec, base);
            }
        });
    }

    // The unnamed data attribute, or one extent of it.
    void data(const uint8_t* r, const uint8_t* a, uint32_t len, Record& rec, bool base) const {
        uint16_t flags = len >= 0x10 ? rd_le16(a + 0x0C) : 0;
        if (flags & kEncrypted) rec.encrypted = true;
        if (a[8] == 0) {  // resident: the whole value, in the file's own record
            uint32_t size = 0;
            const uint8_t* val = resident_value(a, len, size);
            if (!base || !val || rec.has_data || !rec.extents.empty()) return;
            rec.has_data = true;
            rec.size = size;
            rec.resident.assign(val, val + size);
            rec.resident_at = static_cast<size_t>(val - r);
            return;
        }
        if (len < 0x40 || !rec.resident.empty() || rec.extents.size() >= kMaxExtensions) return;
        Extent e{rd_le64(a + 0x10), {}};
        uint32_t off = rd_le16(a + 0x20);
        if (off >= len || !decode_runs(a + off, len - off, l_.clusters, e.runs)) return;
        if (e.vcn == 0) {  // the first extent holds the sizes and the compression
            rec.has_data = true;
            rec.size = rd_le64(a + 0x30);
            if ((flags & kCompressed) == kLznt1 && a[0x22] == 4 && l_.cluster_size <= 4096)
                rec.unit = kUnitClusters;
            else if (flags & kCompressed)
                rec.unreadable = true;
        }
        rec.extents.push_back(std::move(e));
    }

    // An attribute list: a resident value is kept, a non-resident one's runs
    // (read only for the files that need it).
    void keep_list(const uint8_t* a, uint32_t len, Record& rec) const {
        uint32_t size = 0;
        if (a[8] == 0) {
            const uint8_t* val = resident_value(a, len, size);
            if (val) rec.list.assign(val, val + std::min<size_t>(size, kMaxListBytes));
            return;
        }
        uint32_t off = len >= 0x40 ? rd_le16(a + 0x20) : len;
        if (off >= len || rd_le64(a + 0x10) != 0 || !decode_runs(a + off, len - off, l_.clusters, rec.list_runs))
            rec.list_runs.clear();
        else
            rec.list_size = std::min<uint64_t>(rd_le64(a + 0x30), kMaxListBytes);
    }

    // The extension records that the attribute list of record `no` names for
    // the unnamed data or a file name (not the record itself, nor one past
    // the MFT's end).
    void list_refs(uint64_t no, Record& rec) {
        if (!rec.list_runs.empty()) {
            RunReader rr(read_, l_, std::move(rec.list_runs));
            rec.list.resize(static_cast<size_t>(std::min(rec.list_size, rr.bytes())));
            if (list_bytes_ + rec.list.size() > kMaxListBytesRead || !rr.read(0, rec.list.data(), rec.list.size()))
                rec.list.clear();
            list_bytes_ += rec.list.size();
            rec.list_runs = {};
        }
        for (size_t at = 0; at + 0x1A <= rec.list.size();) {
            const uint8_t* e = &rec.list[at];
            uint16_t elen = rd_le16(e + 4);
            if (elen < 0x1A || elen > rec.list.size() - at) break;
            uint64_t ref = rd_le64(e + 0x10) & kRefMask;
            uint32_t type = rd_le32(e);
            if (((type == kData && e[6] == 0) || type == kFileName) && ref != no && ref < records_cap())
                rec.refs.push_back({ref, rd_le16(e + 0x16)});
            at += elen;
        }
        rec.list = {};
        // Each record once (many entries may name the same one), in record order.
        std::sort(rec.refs.begin(), rec.refs.end(), [](const Ref& a, const Ref& b) { return a.no < b.no; });
        rec.refs.erase(std::unique(rec.refs.begin(), rec.refs.end(), [](const Ref& a, const Ref& b) { return a.no == b.no; }),
                       rec.refs.end());
        if (rec.refs.size() > kMaxExtensions) rec.refs.resize(kMaxExtensions);
        rec.refs.shrink_to_fit();
    }

    // Reads the extension records in rec.refs (through the MFT's runs known
    // so far): each that belongs to `no` with the sequence number the list
    // gives, and is in use as `live` says, adds its extents. Those that
    // cannot be read yet stay in rec.refs.
    void follow(uint64_t no, Record& rec, bool live) {
        std::vector<uint8_t> buf(l_.record_size);
        std::vector<Ref> later;
        for (const Ref& ref : rec.refs) {
            if (!live && (extension_reads_ >= kMaxExtensionReads || pending_runs_ >= kMaxPendingRuns)) break;
            if (!mft_->read(ref.no * l_.record_size, buf.data(), buf.size())) {
                later.push_back(ref);
                continue;
            }
            extension_reads_ += !live;
            const uint8_t* r = buf.data();
            bool in_use = rd_le16(r + 0x16) & kInUse;
            if (apply_fixups(buf.data(), buf.size()) && (rd_le64(r + 0x20) & kRefMask) == no && in_use == live &&
                same_record(rd_le16(r + 0x10), in_use, ref.seq)) {
                size_t had = rec.extents.size();
                parse(r, rec, false);
                for (size_t k = had; k < rec.extents.size() && !live; ++k) pending_runs_ += rec.extents[k].runs.size();
            }
        }
        rec.refs = std::move(later);
    }

    // Record numbers a reference may name: those the MFT's size allows.
    uint64_t records_cap() const { return records_ ? records_ : kMaxRecords; }

    // The extents in VCN order, as far as they follow each other without a
    // gap (and their bytes stay countable).
    void join(Record& rec) const {
        const uint64_t max_vcn = (uint64_t(1) << 62) / l_.cluster_size;
        std::sort(rec.extents.begin(), rec.extents.end(), [](const Extent& a, const Extent& b) { return a.vcn < b.vcn; });
        rec.runs.clear();
        uint64_t vcn = 0;
        for (const Extent& e : rec.extents) {
            if (e.vcn != vcn) {
                if (e.vcn > vcn) break;
                continue;  // the same piece again
            }
            if (rec.runs.size() + e.runs.size() > kMaxJoinedRuns) break;
            for (const Run& r : e.runs) {
                if (r.length > max_vcn - vcn) return;
                rec.runs.push_back(r);
                vcn += r.length;
            }
        }
    }

    void record(uint64_t no, uint8_t* r) {
        if (!apply_fixups(r, l_.record_size) || (rd_le64(r + 0x20) & kRefMask) != 0) return;  // extension records
        Record rec;
        parse(r, rec, true);
        if (rec.name_rank < 0 && !(rec.has_list && !(rec.flags & (kDirectory | kInUse)))) return;  // a name may lie further
        if (rec.flags & kDirectory) {
            if (folders_.size() < kMaxFolders)
                folders_[no] = {rec.parent, rec.parent_seq, rd_le16(r + 0x10), bool(rec.flags & kInUse), rec.name};
            return;
        }
        // Encrypted data cannot be read without its keys: no entry names its bytes.
        if ((rec.flags & kInUse) || rec.encrypted || rec.unreadable || (!rec.has_data && !rec.has_list) ||
            pending_.size() >= kMaxPending || resident_bytes_ + rec.resident.size() > kMaxResidentBytes)
            return;
        list_refs(no, rec);
        if (pending_refs_ + rec.refs.size() > kMaxPendingRefs) rec.refs.clear();
        pending_refs_ += rec.refs.size();
        size_t runs = 0;
        for (const Extent& e : rec.extents) runs += e.runs.size();
        if (pending_runs_ + runs > kMaxPendingRuns) return;
        pending_runs_ += runs;
        resident_bytes_ += rec.resident.size();
        uint64_t at = mft_->absolute(no * l_.record_size + rec.resident_at);
        pending_.push_back({no, std::move(rec), at});
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
            if (it == folders_.end() || !same_record(it->second.seq, it->second.in_use, seq) || depth >= kMaxDepth ||
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

    DeletedEntry entry(Pending& p) {
        DeletedEntry e;
        e.size = p.rec.size;
        e.folder = path_of(p.rec.parent, p.rec.parent_seq);
        e.name = std::move(p.rec.name);
        e.mtime = p.rec.mtime >= 0 ? p.rec.mtime : p.rec.fn_mtime;
        return e;
    }

    void add(Pending& p, const Volume& v) {
        Record& rec = p.rec;
        if (rec.encrypted || rec.unreadable || !rec.has_data || rec.size == 0 || rec.name_rank < 0) return;
        if (!rec.resident.empty()) {
            DeletedEntry e = entry(p);
            e.start = p.resident_at;
            e.size = rec.resident.size();
            e.resident = std::move(rec.resident);
            map_.add_entry(std::move(e));
            return;
        }
        if (rec.unit && add_packed(p, v)) return;
        const std::vector<Run>& runs = rec.runs;
        if (runs.empty() || runs[0].lcn == kSparse || v.is_used(runs[0].lcn)) return;
        DeletedEntry e = entry(p);
        e.start = v.offset_of(runs[0].lcn);
        // Its pieces, when every cluster that holds its bytes is still free.
        uint64_t left = e.size;
        for (const Run& r : runs) {
            if (left == 0) break;
            uint64_t bytes = std::min(left, r.length * v.cluster_size);
            if (!free_run(v, r, bytes)) break;
            uint64_t at = v.offset_of(r.lcn);
            if (!e.pieces.empty() && e.pieces.back().first + e.pieces.back().second == at)
                e.pieces.back().second += bytes;
            else
                e.pieces.emplace_back(at, bytes);
            left -= bytes;
        }
        if (left != 0) e.pieces.clear();
        map_.add_entry(std::move(e));
    }

    static bool free_run(const Volume& v, const Run& r, uint64_t bytes) {
        return r.lcn != kSparse && v.next_used(r.lcn) >= r.lcn + (bytes + v.cluster_size - 1) / v.cluster_size;
    }

    // A compressed file: its runs up to its last whole compression unit, when
    // each cluster on disk is still free. False when no unit has a sparse
    // run, that is every unit is kept plain (then it is read as plain pieces).
    bool add_packed(Pending& p, const Volume& v) {
        Record& rec = p.rec;
        uint64_t unit = uint64_t(rec.unit) * v.cluster_size;
        if (rec.size > (uint64_t(1) << 62)) return true;
        uint64_t left = (rec.size + unit - 1) / unit * unit;  // bytes of whole units
        DeletedEntry e;
        for (const Run& r : rec.runs) {
            if (left == 0) break;
            uint64_t bytes = std::min(left, r.length * v.cluster_size);
            if (r.lcn != kSparse && !free_run(v, r, bytes)) return true;  // overwritten since: nothing to read
            e.packed.emplace_back(r.lcn == kSparse ? kSparse : v.offset_of(r.lcn), bytes);
            left -= bytes;
        }
        if (std::none_of(e.packed.begin(), e.packed.end(), [](const auto& x) { return x.first == kSparse; }))
            return false;
        auto first = std::find_if(e.packed.begin(), e.packed.end(), [](const auto& x) { return x.first != kSparse; });
        if (left != 0 || first == e.packed.end()) return true;
        DeletedEntry named = entry(p);
        named.start = first->first;
        named.packed = std::move(e.packed);
        named.unit = unit;
        map_.add_entry(std::move(named));
        return true;
    }

    const ReadFn& read_;
    const Layout& l_;
    Map& map_;
    std::unique_ptr<RunReader> mft_;
    uint64_t records_ = 0;
    size_t extension_reads_ = 0, list_bytes_ = 0;
    std::unordered_map<uint64_t, Folder> folders_;
    std::unordered_map<uint64_t, std::string> paths_;
    std::vector<Pending> pending_;
    size_t pending_runs_ = 0, pending_refs_ = 0, resident_bytes_ = 0;
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

size_t lznt1_expand(const uint8_t* in, size_t n, uint8_t* out, size_t cap) {
    constexpr size_t kChunkOut = 4096;
    size_t at = 0, made = 0;
    while (at + 2 <= n && made < cap) {
        uint16_t h = rd_le16(in + at);
        if (h == 0) break;  // the end of the unit's data
        size_t len = (h & 0x0FFF) + 1u, end = at + 2 + len;
        if (end > n) return SIZE_MAX;
        size_t limit = std::min(cap, made + kChunkOut), o = made;
        at += 2;
        if (!(h & 0x8000)) {  // stored as it is
            if (len > limit - made) return SIZE_MAX;
            std::memcpy(out + o, in + at, len);
            o += len;
            at = end;
        }
        while (at < end) {  // a flag byte, then eight literals or back references
            uint8_t flags = in[at++];
            for (int bit = 0; bit < 8 && at < end; ++bit) {
                if (!(flags >> bit & 1)) {
                    if (o >= limit) return SIZE_MAX;
                    out[o++] = in[at++];
                    continue;
                }
                if (end - at < 2 || o == made) return SIZE_MAX;
                uint16_t t = rd_le16(in + at);
                at += 2;
                // The further into the chunk, the more bits the offset takes.
                unsigned shift = 12;
                for (size_t p = o - made - 1; p >= 0x10; p >>= 1) --shift;
                size_t back = (t >> shift) + 1u, count = (t & (0xFFFFu >> (16 - shift))) + 3u;
                if (back > o - made || count > limit - o) return SIZE_MAX;
                for (size_t k = 0; k < count; ++k, ++o) out[o] = out[o - back];
            }
        }
        std::memset(out + o, 0, limit - o);  // a chunk that stops short: zeros to its end
        made = limit;
    }
    return made;
}

PackedSource::PackedSource(const std::vector<std::pair<uint64_t, uint64_t>>& packed, uint64_t unit, uint64_t size,
                           Source& phys)
    : packed_(packed), unit_(unit), size_(size), phys_(phys), buf_(static_cast<size_t>(unit)) {
    uint64_t at = 0;
    for (const auto& run : packed_) {
        starts_.push_back(at);
        at += run.second;
    }
}

bool PackedSource::load(uint64_t u) {
    if (loaded_ == u) return true;
    loaded_ = UINT64_MAX;
    uint64_t from = u * unit_, held = 0;
    in_.clear();
    size_t i = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), from) - starts_.begin());
    for (i = i ? i - 1 : 0; i < packed_.size(); ++i) {  // the unit's bytes on disk, until its first sparse run
        auto [abs, len] = packed_[i];
        uint64_t at = starts_[i];
        if (at + len <= from) continue;
        if (at >= from + unit_) break;
        uint64_t skip = from > at ? from - at : 0, take = std::min(len - skip, from + unit_ - (at + skip));
        if (abs == kSparse) break;
        size_t old = in_.size();
        in_.resize(old + static_cast<size_t>(take));
        if (phys_.read(abs + skip, &in_[old], static_cast<size_t>(take)) != take) return false;
        held += take;
    }
    if (held == unit_) {  // no sparse run: kept plain
        std::copy(in_.begin(), in_.end(), buf_.begin());
    } else if (held == 0) {
        std::fill(buf_.begin(), buf_.end(), 0);
    } else {
        size_t made = lznt1_expand(in_.data(), in_.size(), buf_.data(), buf_.size());
        if (made == SIZE_MAX) return false;
        std::fill(buf_.begin() + static_cast<long>(made), buf_.end(), 0);
    }
    loaded_ = u;
    return true;
}

size_t PackedSource::read(uint64_t off, void* buf, size_t n) {
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n && off + done < size_) {
        uint64_t pos = off + done, u = pos / unit_, in = pos % unit_;
        if (!load(u)) break;
        size_t take = static_cast<size_t>(std::min<uint64_t>({n - done, unit_ - in, size_ - pos}));
        std::memcpy(out + done, buf_.data() + in, take);
        done += take;
    }
    return done;
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
