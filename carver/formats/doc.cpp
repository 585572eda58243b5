// OLE2 compound files: the size follows from the sector allocation table (the
// last sector in use, FAT and DIFAT sectors included). The directory names the
// application: Word, Excel and PowerPoint files get their own extensions.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/format.h"

namespace carver {
namespace {

constexpr uint32_t kFree = 0xFFFFFFFFu, kEndOfChain = 0xFFFFFFFEu, kFatSect = 0xFFFFFFFDu,
                   kDifSect = 0xFFFFFFFCu, kMaxRegSect = 0xFFFFFFFAu;
constexpr uint32_t kMaxFatSectors = 1u << 16;
constexpr uint32_t kMaxDirSectors = 4096;

bool check(const uint8_t* h, size_t n) {
    if (n < 512) return false;
    uint16_t major = rd_le16(h + 0x1A), shift = rd_le16(h + 0x1E);
    return rd_le16(h + 0x1C) == 0xFFFE && ((major == 3 && shift == 9) || (major == 4 && shift == 12)) &&
           rd_le16(h + 0x20) == 6 && rd_le32(h + 0x38) == 4096 && rd_le32(h + 0x2C) != 0 &&
           rd_le32(h + 0x2C) <= kMaxFatSectors;
}

struct Ole {
    Source& src;
    uint64_t max_size;
    uint32_t ss = 512;
    std::vector<uint32_t> fat;

    uint64_t sector_off(uint32_t s) const { return (static_cast<uint64_t>(s) + 1) * ss; }
    bool sector(uint32_t s, uint8_t* out) {
        uint64_t off = sector_off(s);
        return s <= kMaxRegSect && off + ss <= max_size && src.read(off, out, ss) == ss;
    }
};

// The stream names of the directory, following its chain through the FAT.
bool directory_names(Ole& o, uint32_t first, std::vector<std::u16string>& names) {
    std::vector<uint8_t> sec(o.ss);
    uint32_t s = first;
    for (uint32_t count = 0; s != kEndOfChain; ++count) {
        if (count == kMaxDirSectors || s >= o.fat.size() || !o.sector(s, sec.data())) return false;
        for (uint32_t e = 0; e < o.ss; e += 128) {
            const uint8_t* d = &sec[e];
            uint16_t len = rd_le16(d + 64);
            uint8_t type = d[66];
            if (type == 0) continue;  // unused entry
            if (type > 5 || len < 2 || len > 64 || (len & 1)) return false;
            std::u16string name;
            for (uint16_t i = 0; i + 2 < len; i += 2) name += static_cast<char16_t>(rd_le16(d + i));
            names.push_back(name);
        }
        s = o.fat[s];
    }
    return !names.empty() && names[0] == u"Root Entry";
}

Carve walk(Source& src, uint64_t max_size) {
    uint8_t h[512];
    if (src.read(0, h, 512) != 512 || !check(h, 512)) return {};
    Ole o{src, max_size, 1u << rd_le16(h + 0x1E), {}};
    uint32_t nfat = rd_le32(h + 0x2C), dir = rd_le32(h + 0x30);
    uint32_t difat = rd_le32(h + 0x44), ndifat = rd_le32(h + 0x48);
    if (static_cast<uint64_t>(nfat - 1) * (o.ss / 4) * o.ss >= max_size) return {};  // FAT larger than any file
    // The FAT's sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<uint32_t> fat_secs;
    std::vector<uint32_t> difat_secs;
    for (uint32_t i = 0; i < 109 && fat_secs.size() < nfat; ++i) fat_secs.push_back(rd_le32(h + 0x4C + 4 * i));
    std::vector<uint8_t> sec(o.ss);
    uint32_t per = o.ss / 4;
    for (uint32_t i = 0; fat_secs.size() < nfat; ++i) {
        if (i == ndifat || difat > kMaxRegSect || !o.sector(difat, sec.data())) return {};
        difat_secs.push_back(difat);
        for (uint32_t k = 0; k + 1 < per && fat_secs.size() < nfat; ++k) fat_secs.push_back(rd_le32(&sec[4 * k]));
        difat = rd_le32(&sec[4 * (per - 1)]);
    }
    o.fat.reserve(static_cast<size_t>(nfat) * per);
    for (uint32_t s : fat_secs) {
        if (!o.sector(s, sec.data())) return {};
        for (uint32_t k = 0; k < per; ++k) o.fat.push_back(rd_le32(&sec[4 * k]));
    }
    // Every entry is free, a chain end, a special marker or a sector number in range.
    uint64_t last = 0;
    bool any = false;
    for (uint32_t i = 0; i < o.fat.size(); ++i) {
        uint32_t v = o.fat[i];
        if (v == kFree) continue;
        if (v < kMaxRegSect && v >= o.fat.size()) return {};
        if (v == 0xFFFFFFFBu) return {};
        last = i;
        any = true;
    }
    for (uint32_t s : fat_secs)
        if (s >= o.fat.size() || o.fat[s] != kFatSect) return {};
    for (uint32_t s : difat_secs)
        if (s >= o.fat.size() || o.fat[s] != kDifSect) return {};
    if (!any) return {};
    std::vector<std::u16string> names;
    if (!directory_names(o, dir, names)) return {};
    uint64_t end = o.sector_off(static_cast<uint32_t>(last)) + o.ss;
    if (end > max_size) return {};
    uint8_t b;
    if (src.read(end - 1, &b, 1) != 1) return {};
    const char* ext = nullptr;
    for (const auto& n : names) {
        if (n == u"WordDocument") ext = "doc";
        else if (n == u"Workbook" || n == u"Book") ext = "xls";
        else if (n == u"PowerPoint Document") ext = "ppt";
        if (ext) break;
    }
    return {end, ext};
}

}  // namespace

const Format& doc_format() {
    static const Format f{"doc", {std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)}, check, walk};
    return f;
}

}  // namespace carver
