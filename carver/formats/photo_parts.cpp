#include "formats/photo_parts.h"

#include <string_view>

#include "core/source.h"

namespace carver {
namespace {

constexpr size_t kMaxImages = 64;
constexpr size_t kMaxItems = 16;
constexpr uint64_t kMaxNumber = 1ull << 48;

// TIFF fields in the header's byte order.
struct Tiff {
    const uint8_t* p;
    size_t n;
    bool le;
    bool u16(size_t at, uint32_t& v) const {
        if (at > n || n - at < 2) return false;
        v = le ? rd_le16(p + at) : rd_be16(p + at);
        return true;
    }
    bool u32(size_t at, uint32_t& v) const {
        if (at > n || n - at < 4) return false;
        v = le ? rd_le32(p + at) : rd_be32(p + at);
        return true;
    }
};

constexpr uint16_t kTagMpEntry = 0xB002;
constexpr uint16_t kTypeUndefined = 7;
constexpr size_t kEntrySize = 16;

}  // namespace

bool parse_mp_index(const uint8_t* p, size_t n, std::vector<MpImage>& images) {
    images.clear();
    if (n < 8) return false;
    bool le = p[0] == 'I' && p[1] == 'I';
    if (!le && !(p[0] == 'M' && p[1] == 'M')) return false;
    Tiff t{p, n, le};
    uint32_t magic, ifd, count;
    if (!t.u16(2, magic) || magic != 42 || !t.u32(4, ifd) || !t.u16(ifd, count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = ifd + 2 + size_t(i) * 12;
        uint32_t tag, type, bytes, where;
        if (!t.u16(at, tag) || !t.u16(at + 2, type) || !t.u32(at + 4, bytes) || !t.u32(at + 8, where)) return false;
        if (tag != kTagMpEntry) continue;
        if (type != kTypeUndefined || bytes % kEntrySize != 0 || bytes / kEntrySize < 1 ||
            bytes / kEntrySize > kMaxImages || where > n || n - where < bytes)
            return false;
        // The first entry is the primary image itself (offset 0).
        for (uint32_t e = 1; e < bytes / kEntrySize; ++e) {
            uint32_t size = 0, offset = 0;
            t.u32(where + e * kEntrySize + 4, size);
            t.u32(where + e * kEntrySize + 8, offset);
            if (size == 0 || offset == 0) return false;
            images.push_back({offset, size});
        }
        return true;
    }
    return false;
}

namespace {

// A decimal number of at most 15 digits at p[at]; false when there is none.
bool number_at(std::string_view s, size_t at, uint64_t& v) {
    v = 0;
    size_t digits = 0;
    for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at) {
        if (++digits > 15) return false;
        v = v * 10 + static_cast<uint64_t>(s[at] - '0');
    }
    return digits > 0 && v < kMaxNumber;
}

// The value of attribute `name` inside one tag's text ("" when absent).
std::string_view attribute(std::string_view tag, std::string_view name) {
    for (size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
        size_t eq = at + name.size();
        if (eq + 1 >= tag.size() || tag[eq] != '=' || (tag[eq + 1] != '"' && tag[eq + 1] != '\'')) continue;
        size_t end = tag.find(tag[eq + 1], eq + 2);
        if (end == std::string_view::npos) return {};
        return tag.substr(eq + 2, end - eq - 2);
    }
    return {};
}

uint64_t number_attribute(std::string_view tag, std::string_view name) {
    uint64_t v = 0;
    return number_at(attribute(tag, name), 0, v) ? v : 0;
}

// MicroVideoOffset as an attribute (name="N") or an element (<name>N<).
uint64_t micro_video_offset(std::string_view s) {
    static constexpr std::string_view kName = "MicroVideoOffset";
    size_t at = s.find(kName);
    if (at == std::string_view::npos) return 0;
    at += kName.size();
    if (at < s.size() && s[at] == '=') ++at;
    if (at < s.size() && (s[at] == '"' || s[at] == '\'' || s[at] == '>')) ++at;
    uint64_t v = 0;
    return number_at(s, at, v) ? v : 0;
}

}  // namespace

XmpParts parse_xmp_parts(const char* p, size_t n) {
    std::string_view s(p, n);
    XmpParts out;
    out.micro_video_offset = micro_video_offset(s);
    static constexpr std::string_view kItem = "<Container:Item";
    for (size_t at = s.find(kItem); at != std::string_view::npos && out.items.size() < kMaxItems;
         at = s.find(kItem, at + kItem.size())) {
        size_t end = s.find('>', at);
        if (end == std::string_view::npos) break;
        std::string_view tag = s.substr(at, end - at);
        ContainerItem item;
        item.mime = std::string(attribute(tag, "Item:Mime"));
        item.semantic = std::string(attribute(tag, "Item:Semantic"));
        item.length = number_attribute(tag, "Item:Length");
        item.padding = number_attribute(tag, "Item:Padding");
        out.items.push_back(std::move(item));
    }
    return out;
}

}  // namespace carver
