#include "cards.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <unordered_map>

namespace carver_test {
namespace {

size_t be32(const Bytes& b, size_t at) {
    return size_t(b[at]) << 24 | size_t(b[at + 1]) << 16 | size_t(b[at + 2]) << 8 | b[at + 3];
}

uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Photos cut from one noisy picture, each of its own size, all with the
// standard Huffman tables a camera uses. One ImageMagick run for all.
std::vector<Bytes> photos(const TempDir& tmp, const std::string& tag, const std::vector<std::pair<int, int>>& sizes,
                          unsigned seed, bool progressive = false) {
    std::string cmd = "convert -seed " + std::to_string(seed) +
                      " -size 2000x1500 plasma: -attenuate 0.3 +noise Gaussian -write mpr:base +delete";
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto [w, h] = sizes[i];
        int x = static_cast<int>((i * 97) % static_cast<size_t>(std::max(1, 2000 - w)));
        int y = static_cast<int>((i * 61) % static_cast<size_t>(std::max(1, 1500 - h)));
        cmd += " \\( mpr:base -crop " + std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" +
               std::to_string(y) + " +repage -quality 92 -define jpeg:optimize-coding=false" + (progressive ? " -interlace JPEG" : "") + " -write '" +
               tmp / (tag + std::to_string(i) + ".jpg") + "' +delete \\)";
    }
    if (sh(cmd + " -size 1x1 xc:black null:") != 0) return {};
    std::vector<Bytes> out;
    for (size_t i = 0; i < sizes.size(); ++i) {
        out.push_back(read_file(tmp / (tag + std::to_string(i) + ".jpg")));
        if (out.back().empty()) return {};
    }
    return out;
}

// How many runs of the image a file's clusters make, found by content (every
// cluster of a photo or clip is unique).
class ClusterIndex {
public:
    ClusterIndex(const Bytes& img, size_t cluster) : img_(img), cluster_(cluster) {
        for (size_t at = 0; at + 64 <= img.size(); at += 512) index_.emplace(key(&img[at]), at);
    }
    int pieces(const Bytes& file) const {
        int runs = 0;
        size_t last = SIZE_MAX;
        for (size_t off = 0; off + 64 <= file.size(); off += cluster_) {
            size_t len = std::min(cluster_, file.size() - off);
            auto [from, to] = index_.equal_range(key(&file[off]));
            auto it = std::find_if(from, to, [&](const auto& e) {
                return e.second + len <= img_.size() && std::memcmp(&img_[e.second], &file[off], len) == 0;
            });
            if (it == to) return 0;
            if (it->second != last + cluster_) ++runs;
            last = it->second;
        }
        return runs;
    }

private:
    static std::string key(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 64); }
    const Bytes& img_;
    size_t cluster_;
    std::unordered_multimap<std::string, size_t> index_;
};

std::string names(const TempDir& tmp, const std::vector<std::string>& v, const std::string& prefix) {
    std::string s;
    for (const auto& n : v) s += " '" + prefix + (prefix.empty() ? tmp / n : n) + "'";
    return s;
}

// FAT32 keeps a next-free hint; pointing it back at the start makes the next
// files fill the holes first-fit, as cameras do.
bool rewind_fat32_hint(const std::string& img) {
    Bytes boot = read_file(img);
    if (boot.size() < 512) return false;
    std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<long>(size_t(boot[48] | boot[49] << 8) * 512 + 0x1EC));
    const char hint[4] = {2, 0, 0, 0};
    f.write(hint, 4);
    return static_cast<bool>(f);
}

// An exFAT volume as made by mkfs.exfat, written cluster by cluster: files
// are allocated first-fit, appends of several files may alternate, and
// deleting clears the allocation bitmap and nothing else (no chains, no
// directory entries: every file is found by carving).
class ExfatWriter {
public:
    bool open(const std::string& img) {
        img_ = read_file(img);
        if (img_.size() < 4096 || std::memcmp(&img_[3], "EXFAT   ", 8) != 0) return false;
        heap_ = uint64_t(le32(img_, 88)) << img_[108];
        count_ = le32(img_, 92);
        cluster_ = size_t(1) << (img_[108] + img_[109]);
        uint64_t root = offset(le32(img_, 96));
        for (uint64_t at = root; at + 32 <= root + cluster_; at += 32)
            if (img_[at] == 0x81) bitmap_at_ = offset(le32(img_, at + 20));
        if (!bitmap_at_ || bitmap_at_ + count_ / 8 > img_.size()) return false;
        for (uint32_t c = 0; c < count_; ++c) used_.push_back(img_[bitmap_at_ + c / 8] >> (c % 8) & 1);
        return true;
    }
    size_t cluster() const { return cluster_; }

    // Appends `n` bytes of `data` from `from` to file `id`; false when full.
    bool append(int id, const Bytes& data, size_t from, size_t n) {
        auto& f = files_[id];
        for (size_t done = 0; done < n;) {
            size_t in = f.bytes % cluster_;
            if (in == 0) {
                auto free = std::find(used_.begin(), used_.end(), false);
                if (free == used_.end()) return false;
                *free = true;
                f.clusters.push_back(static_cast<uint32_t>(free - used_.begin()));
            }
            size_t take = std::min(n - done, cluster_ - in);
            std::memcpy(&img_[offset(f.clusters.back() + 2) + in], &data[from + done], take);
            done += take;
            f.bytes += take;
        }
        return true;
    }
    // The file's clusters [first, last) taken by a live file of other bytes.
    void overwrite(int id, size_t first, size_t last, uint32_t seed) {
        const auto& cl = files_[id].clusters;
        for (size_t i = first; i < std::min(last, cl.size()); ++i) {
            Bytes junk = random_bytes(cluster_, seed + static_cast<uint32_t>(i));
            std::memcpy(&img_[offset(cl[i] + 2)], junk.data(), cluster_);
            live_.push_back(cl[i]);
        }
    }
    size_t clusters(int id) { return files_[id].clusters.size(); }
    void remove(int id) {
        for (uint32_t c : files_[id].clusters) used_[c] = false;
        for (uint32_t c : live_) used_[c] = true;
        files_.erase(id);
    }
    void save(const std::string& img) {
        for (uint32_t c = 0; c < count_; ++c) {
            uint8_t& b = img_[bitmap_at_ + c / 8];
            b = static_cast<uint8_t>(used_[c] ? b | 1 << (c % 8) : b & ~(1 << (c % 8)));
        }
        write_file(img, img_);
    }
    const Bytes& image() const { return img_; }

private:
    uint64_t offset(uint32_t c) const { return heap_ + uint64_t(c - 2) * cluster_; }
    struct File {
        std::vector<uint32_t> clusters;
        size_t bytes = 0;
    };
    Bytes img_;
    uint64_t heap_ = 0, bitmap_at_ = 0;
    uint32_t count_ = 0;
    size_t cluster_ = 0;
    std::vector<bool> used_;
    std::vector<uint32_t> live_;  // clusters overwritten by live files
    std::map<int, File> files_;
};

// A voice memo: mono MPEG audio.
bool voice(const TempDir& tmp, Bytes& out) {
    std::string path = tmp / "voice.mp3";
    if (sh("ffmpeg -v error -y -f lavfi -i 'sine=f=220:beep_factor=3' -f lavfi -i 'anoisesrc=a=0.05:seed=4' "
           "-filter_complex amix -t 40 -ac 1 -c:a libmp3lame -b:a 64k '" + path + "'") != 0)
        return false;
    out = read_file(path);
    return !out.empty();
}

bool clip(const TempDir& tmp, const std::string& name, unsigned seconds, unsigned seed, Bytes& out) {
    std::string path = tmp / name;
    std::string src = "testsrc2=size=1920x1080:rate=30,noise=alls=20:allf=t+u:all_seed=" + std::to_string(seed);
    if (sh("ffmpeg -v error -y -f lavfi -i '" + src + "' -f lavfi -i sine=f=" + std::to_string(300 + seed) + " -t " +
           std::to_string(seconds) + " -c:v libx264 -preset ultrafast -b:v 6M -maxrate 6M -bufsize 3M -pix_fmt yuv420p -c:a aac -ac 2 -ar 48000 '" +
           path + "'") != 0 &&
        sh("ffmpeg -v error -y -f lavfi -i '" + src + "' -f lavfi -i sine -t " + std::to_string(seconds) +
           " -c:v mpeg4 -b:v 6M -c:a aac '" + path + "'") != 0)
        return false;
    out = read_file(path);
    return !out.empty();
}

}  // namespace

bool make_camera_card(const std::string& img, const TempDir& tmp, Card& card) {
    card = Card{"camera FAT32, 8 KiB clusters", {}, {}};
    std::vector<std::pair<int, int>> first, second;
    // Every later photo larger than any hole, all of them together no larger than the holes.
    for (int i = 0; i < 90; ++i) first.push_back({560 + (i * 137) % 420, 420 + (i * 89) % 315});
    for (int i = 0; i < 23; ++i) second.push_back({930 + (i * 173) % 220, 700 + (i * 71) % 160});
    std::vector<Bytes> a = photos(tmp, "a", first, 5), b = photos(tmp, "b", second, 6);
    if (a.empty() || b.empty()) return false;
    auto name = [](size_t n) {
        char s[32];
        std::snprintf(s, sizeof s, "DSC_%04zu.JPG", n);
        return std::string(s);
    };
    std::vector<std::string> odd, kept, later;
    for (size_t i = 0; i < a.size(); ++i) {
        write_file(tmp / name(i + 1), a[i]);
        (i % 2 && i + 1 < a.size() ? odd : kept).push_back(name(i + 1));  // the last kept: no hole opens on free space
    }
    for (size_t i = 0; i < b.size(); ++i) {
        write_file(tmp / name(a.size() + i + 1), b[i]);
        later.push_back(name(a.size() + i + 1));
    }
    std::vector<std::string> all_a = kept;
    all_a.insert(all_a.end(), odd.begin(), odd.end());
    std::sort(all_a.begin(), all_a.end());
    const std::string dir = "::/DCIM/100CAMERA/";
    if (sh("rm -f '" + img + "' && mkfs.vfat -F 32 -s 16 -S 512 -C '" + img + "' 552960") != 0 ||
        sh("mmd -i '" + img + "' ::/DCIM ::/DCIM/100CAMERA") != 0 ||
        sh("mcopy -i '" + img + "'" + names(tmp, all_a, "") + " " + dir) != 0 ||
        sh("mdel -i '" + img + "'" + names(tmp, odd, dir)) != 0 || !rewind_fat32_hint(img) ||
        sh("mcopy -i '" + img + "'" + names(tmp, later, "") + " " + dir) != 0)
        return false;
    Bytes image = read_file(img);
    ClusterIndex index(image, 8192);
    for (size_t i = 0; i < b.size(); ++i) {
        int pieces = index.pieces(b[i]);
        if (pieces > 1) card.files.push_back({later[i], b[i], pieces});
        else card.others.push_back(b[i]);
    }
    for (size_t i = 0; i < a.size(); ++i)
        if (i % 2 == 0 || i + 1 == a.size()) card.others.push_back(a[i]);
    return sh("mdel -i '" + img + "'" + names(tmp, kept, dir) + names(tmp, later, dir)) == 0;
}

bool make_phone_card(const std::string& img, const TempDir& tmp, Card& card) {
    card = Card{"phone exFAT, 32 KiB clusters", {}, {}};
    Bytes v1, v2, v3, memo;
    std::vector<std::pair<int, int>> sizes;
    for (int i = 0; i < 16; ++i) sizes.push_back({1000 + (i * 131) % 300, 750 + (i * 67) % 225});
    std::vector<Bytes> shots = photos(tmp, "p", sizes, 7), prog = photos(tmp, "q", {{1100, 800}}, 8, true);
    if (shots.empty() || prog.empty() || !clip(tmp, "v1.mp4", 8, 1, v1) || !clip(tmp, "v2.mp4", 7, 2, v2) ||
        !clip(tmp, "v3.mp4", 3, 3, v3) || !voice(tmp, memo) ||
        sh("rm -f '" + img + "' && truncate -s 96M '" + img + "' && mkfs.exfat -c 32K '" + img + "' >/dev/null") != 0)
        return false;
    // Shot 5 is progressive; its first append is large enough to hold its first scans.
    const size_t progressive = 5;
    shots.insert(shots.begin() + progressive, prog[0]);
    ExfatWriter w;
    if (!w.open(img)) return false;
    std::mt19937 rng(26);
    auto chunk = [&] { return size_t(32 << 10) * (1 + rng() % 4); };
    // A live file ahead of everything, and one the first clip's photos follow.
    Bytes ballast = random_bytes(3 << 20, 1);
    if (!w.append(100, ballast, 0, ballast.size())) return false;
    // Ids: 0, 1, 3 the clips, 2 the voice memo; 10 + i the photos, in the order taken.
    struct Recording {
        int id;
        const Bytes& data;
        size_t photos;
    };
    const Recording recordings[] = {{0, v1, 6}, {1, v2, 6}, {2, memo, 2}, {3, v3, 2}};
    size_t shot = 0;
    for (const Recording& rec : recordings) {
        const Bytes& clip = rec.data;
        const size_t per_clip = rec.photos;
        size_t at = 0, taken = 0;
        while (at < clip.size()) {
            size_t n = std::min(chunk(), clip.size() - at);
            if (!w.append(rec.id, clip, at, n)) return false;
            at += n;
            // Every so often a photo: its appends alternate with the recording's.
            if (taken < per_clip && shot + 1 < shots.size() && at > (taken + 1) * clip.size() / (per_clip + 1)) {
                const Bytes& p = shots[shot];
                for (size_t pa = 0; pa < p.size();) {
                    size_t m = std::min(shot == progressive && pa == 0 ? size_t(128) << 10 : chunk(), p.size() - pa);
                    if (!w.append(10 + int(shot), p, pa, m)) return false;
                    pa += m;
                    if (at < clip.size()) {
                        size_t k = std::min(chunk(), clip.size() - at);
                        if (!w.append(rec.id, clip, at, k)) return false;
                        at += k;
                    }
                }
                ++shot, ++taken;
            }
        }
    }
    // Two photos deleted and their holes refilled by a later photo; then
    // everything deleted but the ballast and the refill.
    w.remove(10 + 2);
    w.remove(10 + 9);
    Bytes refill = shots.back();
    if (!w.append(50, refill, 0, refill.size())) return false;
    card.others.push_back(refill);
    card.others.push_back(ballast);
    card.others.push_back(shots[2]);
    card.others.push_back(shots[9]);
    w.save(img);
    ClusterIndex index(w.image(), w.cluster());
    auto keep = [&](const std::string& name, const Bytes& data) {
        int pieces = index.pieces(data);
        if (pieces > 1) card.files.push_back({name, data, pieces});
        else card.others.push_back(data);
    };
    keep("VID_1.mp4", v1);
    keep("VID_2.mp4", v2);
    keep("VID_3.mp4", v3);
    keep("REC_1.mp3", memo);
    for (size_t i = 0; i < shot; ++i)
        if (i != 2 && i != 9) keep("IMG_" + std::to_string(i) + ".jpg", shots[i]);
    // Part of the second clip (its movie box kept), the third clip's end
    // (its movie box), a photo's last pieces and the progressive photo's
    // pieces after its first append overwritten: only their heads can come back.
    w.overwrite(1, 60, 80, 90);
    w.overwrite(3, w.clusters(3) - 2, SIZE_MAX, 92);
    w.overwrite(10 + 4, 5, SIZE_MAX, 91);
    w.overwrite(10 + int(progressive), 4, SIZE_MAX, 93);
    for (int id : {0, 1, 2, 3}) w.remove(id);
    for (size_t i = 0; i < shot; ++i)
        if (i != 2 && i != 9) w.remove(10 + int(i));
    w.save(img);
    return true;
}

namespace {

size_t common_prefix(const Bytes& a, const Bytes& b) {
    size_t n = std::min(a.size(), b.size()), i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

}  // namespace

namespace {

// An ISO media partial: the original's boxes where they were, the media
// data cut (its size field changed), the movie box at the front freed, a
// movie box of its own after the media data.
bool own_iso_head(const Bytes& part, const Bytes& original) {
    bool media = false;
    for (size_t at = 0; at + 8 <= part.size();) {
        size_t size = be32(part, at);
        if (size < 8 || size > part.size() - at) return false;
        const char* type = reinterpret_cast<const char*>(&part[at + 4]);
        auto same = [&](size_t from, size_t to) {
            return to <= original.size() && std::equal(part.begin() + long(from), part.begin() + long(to),
                                                       original.begin() + long(from));
        };
        if (std::strncmp(type, "mdat", 4) == 0) {
            if (!same(at + 4, at + size) || size >= original.size() - at) return false;
            media = true;
        } else if (std::strncmp(type, "free", 4) == 0 && at + 8 <= original.size() &&
                   std::memcmp(&original[at + 4], "moov", 4) == 0) {
            if (!same(at + 8, at + size) || be32(original, at) != size) return false;
        } else if (std::strncmp(type, "moov", 4) != 0 || !media) {
            if (!same(at, at + size)) return false;
        }
        at += size;
    }
    return media;
}

bool is_iso(const Bytes& b) { return b.size() > 8 && std::memcmp(&b[4], "ftyp", 4) == 0; }

// Whether a carved file opens like `original`: its first 512 bytes, or for
// ISO media, whose headers look alike, the first 512 bytes of media data.
bool opens_like(const Bytes& part, const Bytes& original) {
    size_t at = 0;
    if (is_iso(part)) {
        while (at + 8 <= part.size() && std::memcmp(&part[at + 4], "mdat", 4) != 0) {
            size_t size = be32(part, at);
            if (size < 8) return false;
            at += size;
        }
        at += 8;
    }
    return at + 512 <= std::min(part.size(), original.size()) &&
           std::equal(part.begin() + long(at), part.begin() + long(at + 512), original.begin() + long(at));
}

}  // namespace

bool own_head(const Bytes& part, const Bytes& original) {
    if (is_iso(part)) return own_iso_head(part, original);
    static const Bytes closings[] = {{0xFF, 0xD9}, {0x3B}, {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}};
    size_t same = common_prefix(part, original);
    if (same == part.size()) return part.size() < original.size();
    // The closing's first bytes may happen to equal the original's there.
    return std::any_of(std::begin(closings), std::end(closings), [&](const Bytes& c) {
        const size_t head = part.size() - std::min(part.size(), c.size());
        return part.size() > c.size() && same >= head && head < original.size() &&
               std::equal(c.begin(), c.end(), part.begin() + static_cast<long>(head));
    });
}

bool plays(const std::string& path) {
    return sh("ffmpeg -v error -xerror -i '" + path + "' -f null - 2>&1 | grep -q .") != 0;
}

bool lasts(const std::string& path) {
    return sh("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path +
              "' | grep -Eq '^[0-9]*[.]?[0-9]+$' && ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
              path + "' | awk '{exit !($1 > 0)}'") == 0;
}

namespace {

// A progressive JPEG: its frame header (SOF2) comes before the first scan.
bool progressive_jpeg(const Bytes& b) {
    for (size_t at = 2; at + 4 <= b.size() && b[at] == 0xFF;) {
        if (b[at + 1] == 0xC2) return true;
        if (b[at + 1] == 0xDA) return false;
        at += 2 + (size_t(b[at + 2]) << 8 | b[at + 3]);
    }
    return false;
}

}  // namespace

Tally tally(const std::string& out, const Card& card) {
    Tally t;
    std::vector<std::pair<std::string, Bytes>> got;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
        std::string name = std::filesystem::relative(e.path(), out).string();
        if (e.is_regular_file() && name.rfind(".snapmend/", 0) != 0) got.push_back({name, read_file(e.path().string())});
    }
    for (const CardFile& f : card.files) {
        bool whole = false, partial = false;
        for (const auto& [name, data] : got) {
            if (data == f.data) whole = true;
            else if (name.find(".partial.") != std::string::npos && opens_like(data, f.data))
                partial = partial || own_head(data, f.data);
        }
        t.whole += whole;
        t.partial += !whole && partial;
        t.missing += !whole && !partial;
        if (!whole) t.missed += f.name + (partial ? "(partial) " : " ");
    }
    // Every partial file that opens like a file of the card must be that file's head.
    for (const auto& [name, data] : got) {
        if (name.find(".partial.") == std::string::npos) continue;
        bool known = false, own = false;
        auto check = [&](const Bytes& original) {
            if (!opens_like(data, original)) return;
            known = true;
            own = own || own_head(data, original);
        };
        for (const CardFile& f : card.files) check(f.data);
        for (const Bytes& o : card.others) check(o);
        if (known && !own) t.foreign += name + " ";
        const std::string path = out + "/" + name;
        if ((is_iso(data) || progressive_jpeg(data)) && !plays(path)) t.unplayable += name + " ";
        else if (is_iso(data) && !lasts(path)) t.unplayable += name + " (no duration) ";
    }
    return t;
}

}  // namespace carver_test
