#include "fs/map.h"

#include "core/output.h"

#include <algorithm>
#include <cstring>

namespace carver::fs {
namespace {

// Bounds the entry list on any disk: about 150 bytes an entry.
constexpr size_t kMaxEntries = 1u << 18;

std::string lower(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return s;
}

bool probe_volume(const ReadFn& read, uint64_t base, uint64_t limit, Map& map) {
    static const struct {
        bool (*probe)(const ReadFn&, uint64_t, uint64_t, Map&);
        const char* origin;
    } kReaders[] = {{probe_fat, "fat"}, {probe_exfat, "exfat"}, {probe_ext, "ext"}, {probe_ntfs, "ntfs"}};
    for (const auto& r : kReaders) {
        size_t first = map.entries().size();
        if (r.probe(read, base, limit, map)) {
            map.set_origin(first, r.origin);
            return true;
        }
    }
    return false;
}

void probe_partitions(const ReadFn& read, uint64_t device_size, Map& map) {
    uint8_t s[512];
    if (read(0, s, 512) != 512 || s[510] != 0x55 || s[511] != 0xAA) return;
    // GPT: protective MBR, header in sector 1, 128-byte entries.
    if (s[450] == 0xEE) {
        uint8_t h[512];
        if (read(512, h, 512) != 512 || std::memcmp(h, "EFI PART", 8) != 0) return;
        uint64_t lba = rd_le32(h + 72) | uint64_t(rd_le32(h + 76)) << 32;
        uint32_t count = std::min<uint32_t>(rd_le32(h + 80), 128);
        uint32_t esize = rd_le32(h + 84);
        if (esize < 128 || esize > 4096 || lba > device_size / 512) return;
        std::vector<uint8_t> e(esize);
        for (uint32_t i = 0; i < count; ++i) {
            if (read(lba * 512 + uint64_t(i) * esize, e.data(), esize) != esize) return;
            uint64_t first = rd_le32(&e[32]) | uint64_t(rd_le32(&e[36])) << 32;
            uint64_t last = rd_le32(&e[40]) | uint64_t(rd_le32(&e[44])) << 32;
            if (first == 0 || last < first || first > device_size / 512) continue;
            probe_volume(read, first * 512, (last + 1) * 512, map);
        }
        return;
    }
    for (int i = 0; i < 4; ++i) {
        const uint8_t* p = s + 446 + 16 * i;
        uint64_t first = rd_le32(p + 8), count = rd_le32(p + 12);
        if (p[4] == 0 || first == 0 || count == 0) continue;
        probe_volume(read, first * 512, (first + count) * 512, map);
    }
}

}  // namespace

void SparseWords::assign(size_t words, uint64_t) {
    words_ = words;
    pages_.clear();
    pages_.resize((words + kPageWords - 1) / kPageWords);
}

uint64_t& SparseWords::operator[](size_t i) {
    auto& page = pages_[i / kPageWords];
    if (!page) page.reset(new uint64_t[kPageWords]());
    return page[i % kPageWords];
}

size_t SparseWords::next_written(size_t i) const {
    for (size_t p = i / kPageWords; p < pages_.size(); ++p)
        if (pages_[p]) return std::max(i, p * kPageWords);
    return words_;
}

uint64_t Volume::next_with(uint64_t c, bool bit) const {
    while (c < clusters) {
        if (bit) {  // pages never written hold no set bit: pass over them at once
            const uint64_t word = used.next_written(static_cast<size_t>(c >> 6));
            if (word >= used.size()) return clusters;
            c = std::max(c, static_cast<uint64_t>(word) << 6);
        }
        uint64_t w = used[c >> 6];
        if (!bit) w = ~w;
        w >>= (c & 63);
        if (w) return std::min(clusters, c + static_cast<uint64_t>(__builtin_ctzll(w)));
        c = (c | 63) + 1;
    }
    return clusters;
}

void Map::probe(const ReadFn& read, uint64_t device_size) {
    if (!probe_volume(read, 0, device_size, *this)) probe_partitions(read, device_size, *this);
    finish();
}

void Map::set_origin(size_t first_entry, const char* origin) {
    for (size_t i = first_entry; i < entries_.size(); ++i) entries_[i].origin = origin;
}

void Map::add_entry(DeletedEntry e) {
    if (entries_.size() < kMaxEntries) entries_.push_back(std::move(e));
}

void Map::finish() {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const DeletedEntry& a, const DeletedEntry& b) { return a.start < b.start; });
}

const Volume* Map::free_cluster_at(uint64_t abs, uint64_t& cluster) const {
    for (const Volume& v : volumes_) {
        if (abs < v.data_start || abs >= v.end()) continue;
        if ((abs - v.data_start) % v.cluster_size) return nullptr;
        cluster = (abs - v.data_start) / v.cluster_size;
        return v.is_used(cluster) ? nullptr : &v;
    }
    return nullptr;
}

const DeletedEntry* Map::entry_for(uint64_t abs, uint64_t length, const std::string& ext) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), abs,
                               [](const DeletedEntry& e, uint64_t a) { return e.start < a; });
    for (; it != entries_.end() && it->start == abs; ++it)
        if ((length == 0 || it->size == length) && it->packed.empty() && extension_matches(it->name, ext)) return &*it;
    return nullptr;
}

FreeStream::FreeStream(const Volume& v, uint64_t first_cluster, Source& phys)
    : v_(v), first_(first_cluster), phys_(phys) {
    rewind();
}

void FreeStream::rewind() {
    run_k_ = 0;
    next_c_ = run_from(first_);
    if (known_.empty() && run_len_) known_.push_back({0, run_c_, run_len_, next_c_});
}

// A free run ends at the next cluster in use or, on ext4, before a freed
// extent tree node (which the stream leaves out). Nodes are looked for in
// steps as the stream is read, so a long free run costs only what is read.
uint64_t FreeStream::run_from(uint64_t c) {
    constexpr uint64_t kStep = 256;
    run_c_ = c;
    uint64_t end = v_.next_used(c);
    if (v_.skip_extent_nodes) {
        end = std::min(end, c + kStep);
        for (uint64_t x = c; x < end; ++x)
            if (extent_node(x)) {
                run_len_ = x - c;
                return x + 1;
            }
    }
    run_len_ = end - c;
    return end;
}

// A validated extent header: magic, entries within a whole block's room,
// a depth an extent tree can have.
bool FreeStream::extent_node(uint64_t c) {
    uint8_t h[12];
    if (phys_.read(v_.offset_of(c), h, sizeof h) != sizeof h) return false;
    uint16_t entries = rd_le16(h + 2), max = rd_le16(h + 4), depth = rd_le16(h + 6);
    return rd_le16(h) == 0xF30A && max == (v_.cluster_size - 12) / 12 && entries <= max && depth <= 5;
}

// Runs found so far are kept (up to a bound), so reading back costs a
// binary search, not a walk from the first cluster.
bool FreeStream::locate(uint64_t k) {
    if (k >= run_k_ && k < run_k_ + run_len_) return true;
    if (!known_.empty() && k < known_.back().k + known_.back().len) {
        auto it = std::upper_bound(known_.begin(), known_.end(), k,
                                   [](uint64_t x, const Run& r) { return x < r.k; });
        --it;
        run_k_ = it->k;
        run_c_ = it->c;
        run_len_ = it->len;
        next_c_ = it->next;
        if (k < run_k_ + run_len_) return true;
    }
    if (k < run_k_) rewind();
    while (k >= run_k_ + run_len_) {
        uint64_t c = v_.next_free(next_c_);
        if (c >= v_.clusters) return false;
        run_k_ += run_len_;
        next_c_ = run_from(c);
        if (run_len_ && known_.size() < kMaxKnown && (known_.empty() || run_k_ > known_.back().k))
            known_.push_back({run_k_, run_c_, run_len_, next_c_});
    }
    return true;
}

size_t FreeStream::read(uint64_t off, void* buf, size_t n) {
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        uint64_t at = off + done;
        uint64_t k = at / v_.cluster_size;
        if (!locate(k)) break;
        uint64_t run_end = (run_k_ + run_len_) * v_.cluster_size;  // stream offset
        uint64_t take = std::min<uint64_t>(n - done, run_end - at);
        uint64_t abs = v_.offset_of(run_c_) + (at - run_k_ * v_.cluster_size);
        size_t got = phys_.read(abs, out + done, static_cast<size_t>(take));
        done += got;
        if (got < take) break;
    }
    return done;
}

bool FreeStream::crosses_used(uint64_t length) {
    bool crosses = false;
    uint64_t last = UINT64_MAX;
    for_each_piece(0, length, [&](uint64_t from, uint64_t to) {
        crosses = crosses || (last != UINT64_MAX && from != last);
        last = to;
    });
    return crosses;
}

void FreeStream::for_each_piece(uint64_t begin, uint64_t end,
                                const std::function<void(uint64_t, uint64_t)>& fn) {
    uint64_t cs = v_.cluster_size;
    for (uint64_t at = begin; at < end && locate(at / cs);) {
        uint64_t run_from = run_k_ * cs, run_to = (run_k_ + run_len_) * cs;
        uint64_t to = std::min(end, run_to);
        uint64_t phys = v_.offset_of(run_c_);
        fn(phys + (at - run_from), phys + (to - run_from));
        at = to;
    }
}


std::string utf16_to_utf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = '_';
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string sanitize_name(const std::string& raw) { return safe_name(raw); }

bool extension_matches(const std::string& name, const std::string& ext) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string e = lower(name.substr(dot + 1));
    if (e == ext) return true;
    static const char* const kAliases[][2] = {
        {"jpeg", "jpg"}, {"jpe", "jpg"}, {"jfif", "jpg"}, {"tiff", "tif"}, {"mpeg", "mpg"},
        {"m4v", "mp4"}, {"m4a", "mp4"},
    };
    for (const auto& a : kAliases)
        if (e == a[0] && ext == a[1]) return true;
    return false;
}

}  // namespace carver::fs
