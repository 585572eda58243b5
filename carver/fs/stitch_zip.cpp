// ZIP archives put together across other deleted files' clusters: every
// member proves its own bytes by its CRC-32 and sizes (deflated data also by
// decoding to its end), and the central directory proves the members'
// offsets. A member that does not check holds a break.
#include <algorithm>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "fs/stitch.h"

namespace carver::fs {
namespace {

constexpr uint32_t kLocal = 0x04034b50, kCentral = 0x02014b50, kEnd = 0x06054b50;
constexpr uint32_t kDescriptor = 0x08074b50, kEnd64 = 0x06064b50, kLocator64 = 0x07064b50;
constexpr size_t kMaxMembers = 1u << 16;
constexpr uint64_t kZipWork = 64u << 20;

uint64_t rd_le64(const uint8_t* p) { return rd_le32(p) | uint64_t(rd_le32(p + 4)) << 32; }

struct Member {
    uint64_t offset = 0;  // of its local header
    uint32_t crc = 0;
    uint64_t csize = 0, usize = 0;
    uint16_t name_len = 0;
};

struct Local {
    uint16_t flags = 0, method = 0, name_len = 0, extra_len = 0;
    uint32_t crc = 0;
    uint64_t csize = 0, usize = 0;
    bool zip64 = false;
};

bool read_local(Source& s, uint64_t at, Local& l) {
    uint8_t h[30];
    if (s.read(at, h, 30) != 30 || rd_le32(h) != kLocal) return false;
    l.flags = rd_le16(h + 6);
    l.method = rd_le16(h + 8);
    l.crc = rd_le32(h + 14);
    l.csize = rd_le32(h + 18);
    l.usize = rd_le32(h + 22);
    l.name_len = rd_le16(h + 26);
    l.extra_len = rd_le16(h + 28);
    if (l.name_len == 0 || (l.flags & 1) || (rd_le16(h + 4) & 0xFF) > 63) return false;
    // ZIP64 sizes in the extra field, for the sizes that are 0xFFFFFFFF.
    if (l.csize == 0xFFFFFFFFu || l.usize == 0xFFFFFFFFu) {
        std::vector<uint8_t> x(l.extra_len);
        if (s.read(at + 30 + l.name_len, x.data(), x.size()) != x.size()) return false;
        for (size_t i = 0; i + 4 <= x.size();) {
            uint16_t id = rd_le16(&x[i]), len = rd_le16(&x[i + 2]);
            if (i + 4 + len > x.size()) break;
            if (id == 1) {
                size_t p = i + 4;
                if (l.usize == 0xFFFFFFFFu && p + 8 <= i + 4 + len) l.usize = rd_le64(&x[p]), p += 8;
                if (l.csize == 0xFFFFFFFFu && p + 8 <= i + 4 + len) l.csize = rd_le64(&x[p]);
                l.zip64 = true;
                break;
            }
            i += 4 + len;
        }
    }
    return true;
}

class ZipMembers final : public Units {
public:
    explicit ZipMembers(uint64_t max_size) : max_size_(max_size) {}

    Result check(Source& s, uint64_t at, uint64_t& next, uint64_t& work) override {
        uint8_t sig[4];
        if (s.read(at, sig, 4) != 4) return Result::Bad;
        if (rd_le32(sig) == kLocal) return member(s, at, next, work) ? Result::Good : Result::Bad;
        if (rd_le32(sig) == kCentral && !members_.empty()) return directory(s, at, next, work);
        return Result::Bad;
    }

    void accept() override {
        if (pending_ && members_.size() < kMaxMembers) members_.push_back(last_);
        pending_ = false;
    }

    uint64_t span(Source& s, uint64_t at) override {
        Local l;
        if (read_local(s, at, l))
            return 30 + uint64_t(l.name_len) + l.extra_len + l.csize + ((l.flags & 8) ? 24 : 0);
        uint64_t n = 0;  // the central directory as far as it reads, and the end record
        uint8_t h[46];
        for (size_t i = 0; i <= members_.size() && s.read(at + n, h, 46) == 46 && rd_le32(h) == kCentral; ++i)
            n += 46 + uint64_t(rd_le16(h + 28)) + rd_le16(h + 30) + rd_le16(h + 32);
        return n + 22 + 56 + 20;
    }

    // After a member's data: a descriptor, the next member or the directory.
    bool plausible(Source& s, uint64_t at, uint64_t& work) override {
        work += 64;
        Local l;
        if (!read_local(s, at, l)) return true;  // the directory: checked in full, it is small
        if ((l.flags & 8) && l.csize == 0) return true;
        uint8_t sig[4];
        uint64_t end = at + 30 + l.name_len + l.extra_len + l.csize;
        if (s.read(end, sig, 4) != 4) return false;
        uint32_t v = rd_le32(sig);
        return v == kLocal || v == kCentral || ((l.flags & 8) && (v == kDescriptor || v == l.crc));
    }

private:
    bool member(Source& s, uint64_t at, uint64_t& next, uint64_t& work) {
        Local l;
        if (!read_local(s, at, l) || (l.method != 0 && l.method != 8)) return false;
        uint64_t data = at + 30 + l.name_len + l.extra_len;
        bool unknown_size = (l.flags & 8) && l.csize == 0 && l.method == 8;
        if ((l.flags & 8) && l.csize == 0 && !unknown_size) return false;  // stored, size only at its end
        if (data + l.csize > max_size_) return false;
        uint32_t crc = 0;
        uint64_t csize = l.csize, usize = 0;
        if (l.method == 0 ? !stored(s, data, l.csize, crc, work) : !inflated(s, data, unknown_size, csize, usize, crc, work))
            return false;
        if (l.method == 0) usize = csize;
        uint64_t end = data + csize;
        if (l.flags & 8) {
            uint8_t d[24];
            if (s.read(end, d, 24) < 16) return false;
            uint64_t body = rd_le32(d) == kDescriptor ? 4 : 0;
            if (rd_le32(d + body) != crc) return false;
            bool wide = l.zip64 || csize >= 0xFFFFFFFFu || usize >= 0xFFFFFFFFu;
            uint64_t dc = wide ? rd_le64(d + body + 4) : rd_le32(d + body + 4);
            uint64_t du = wide ? rd_le64(d + body + 12) : rd_le32(d + body + 8);
            if (dc != csize || du != usize) return false;
            end += body + (wide ? 20 : 12);
        } else if (crc != l.crc || csize != l.csize || usize != l.usize) {
            return false;
        }
        next = end;
        last_ = {at, crc, csize, usize, l.name_len};
        pending_ = true;
        return true;
    }

    bool stored(Source& s, uint64_t data, uint64_t size, uint32_t& crc, uint64_t& work) {
        uLong c = ::crc32(0L, nullptr, 0);
        uint8_t buf[16384];
        for (uint64_t done = 0; done < size;) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(sizeof buf, size - done));
            if (s.read(data + done, buf, take) != take) return false;
            c = ::crc32(c, buf, static_cast<uInt>(take));
            done += take;
        }
        work += size;
        crc = static_cast<uint32_t>(c);
        return true;
    }

    // Raw deflate from `data`: must end exactly after csize bytes (or, size
    // unknown, wherever it ends). Output is counted, not kept.
    bool inflated(Source& s, uint64_t data, bool unknown, uint64_t& csize, uint64_t& usize, uint32_t& crc,
                  uint64_t& work) {
        z_stream z{};
        if (::inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
        struct End {
            z_stream& z;
            ~End() { ::inflateEnd(&z); }
        } end{z};
        uint8_t in[16384], out[32768];
        uLong c = ::crc32(0L, nullptr, 0);
        uint64_t fed = 0, produced = 0;
        const uint64_t limit = unknown ? max_size_ - std::min(max_size_, data) : csize;
        for (;;) {
            if (z.avail_in == 0) {
                size_t take = static_cast<size_t>(std::min<uint64_t>(sizeof in, limit - fed));
                if (take == 0) return false;
                size_t got = s.read(data + fed, in, take);
                if (got == 0) return false;
                z.next_in = in;
                z.avail_in = static_cast<uInt>(got);
                fed += got;
                work += got;
            }
            z.next_out = out;
            z.avail_out = sizeof out;
            int r = ::inflate(&z, Z_NO_FLUSH);
            size_t made = sizeof out - z.avail_out;
            c = ::crc32(c, out, static_cast<uInt>(made));
            produced += made;
            work += made / 8;
            if (work > kZipWork) return false;
            if (r == Z_STREAM_END) break;
            if (r != Z_OK && r != Z_BUF_ERROR) return false;
            if (r == Z_BUF_ERROR && z.avail_in != 0) return false;
        }
        uint64_t used = fed - z.avail_in;
        if (!unknown && used != csize) return false;
        csize = used;
        usize = produced;
        crc = static_cast<uint32_t>(c);
        return true;
    }

    // The central directory names every member by offset, CRC and sizes, in
    // order; the end record (ZIP64 ones too) its place and size.
    Result directory(Source& s, uint64_t at, uint64_t& next, uint64_t& work) {
        uint64_t p = at;
        uint8_t h[46];
        for (const Member& m : members_) {
            if (s.read(p, h, 46) != 46 || rd_le32(h) != kCentral) return Result::Bad;
            uint16_t nlen = rd_le16(h + 28), xlen = rd_le16(h + 30), clen = rd_le16(h + 32);
            uint64_t csize = rd_le32(h + 20), usize = rd_le32(h + 24), off = rd_le32(h + 42);
            if (csize == 0xFFFFFFFFu || usize == 0xFFFFFFFFu || off == 0xFFFFFFFFu) {
                std::vector<uint8_t> x(xlen);
                if (s.read(p + 46 + nlen, x.data(), x.size()) != x.size()) return Result::Bad;
                for (size_t i = 0; i + 4 <= x.size();) {
                    uint16_t id = rd_le16(&x[i]), len = rd_le16(&x[i + 2]);
                    if (i + 4 + len > x.size()) break;
                    if (id == 1) {
                        size_t q = i + 4, e = i + 4 + len;
                        if (usize == 0xFFFFFFFFu && q + 8 <= e) usize = rd_le64(&x[q]), q += 8;
                        if (csize == 0xFFFFFFFFu && q + 8 <= e) csize = rd_le64(&x[q]), q += 8;
                        if (off == 0xFFFFFFFFu && q + 8 <= e) off = rd_le64(&x[q]);
                        break;
                    }
                    i += 4 + len;
                }
            }
            if (rd_le32(h + 16) != m.crc || csize != m.csize || usize != m.usize || off != m.offset ||
                nlen != m.name_len)
                return Result::Bad;
            p += 46 + uint64_t(nlen) + xlen + clen;
            work += 46;
        }
        const uint64_t cd_end = p;
        uint8_t e[56];
        if (s.read(p, e, 4) != 4) return Result::Bad;
        if (rd_le32(e) == kEnd64) {
            if (s.read(p, e, 56) != 56 || rd_le64(e + 48) != at || rd_le64(e + 40) != cd_end - at ||
                rd_le64(e + 32) != members_.size())
                return Result::Bad;
            p += 12 + rd_le64(e + 4);
            if (p < cd_end || s.read(p, e, 20) != 20 || rd_le32(e) != kLocator64 || rd_le64(e + 8) != cd_end)
                return Result::Bad;
            p += 20;
        }
        if (s.read(p, e, 22) != 22 || rd_le32(e) != kEnd || rd_le16(e + 4) != 0 || rd_le16(e + 6) != 0)
            return Result::Bad;
        uint16_t total = rd_le16(e + 10);
        uint32_t size = rd_le32(e + 12), off = rd_le32(e + 16);
        if ((total != 0xFFFF && total != (members_.size() & 0xFFFF)) ||
            (size != 0xFFFFFFFFu && size != cd_end - at) || (off != 0xFFFFFFFFu && off != at))
            return Result::Bad;
        next = p + 22 + rd_le16(e + 20);
        return next <= max_size_ ? Result::End : Result::Bad;
    }

    uint64_t max_size_;
    std::vector<Member> members_;
    Member last_;
    bool pending_ = false;
};

}  // namespace

Stitched stitch_zip(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips) {
    FreeStream head(v, first_cluster, phys);
    Local l;
    if (!read_local(head, 0, l)) return {};
    ZipMembers members(max_size);
    return stitch_units(v, first_cluster, phys, max_size, members, 0, kZipWork, skips);
}

}  // namespace carver::fs
