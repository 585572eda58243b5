#include "core/scan.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "carver/device_identity.h"
#include "core/checkpoint.h"
#include "core/format.h"
#include "core/output.h"
#include "core/progress.h"
#include "fs/scan_hook.h"

namespace carver {
namespace {

// Blocks of the device held in memory, contiguous from begin() to end().
class Window {
public:
    explicit Window(BlockReader& r) : reader_(r) {}
    ~Window() {
        for (auto& b : blocks_) reader_.recycle(std::move(b));
    }

    uint64_t begin() const { return blocks_.empty() ? end_ : blocks_.front()->off; }
    uint64_t end() const { return end_; }
    bool at_eof() const { return eof_; }
    const Holes& holes() const { return reader_.holes(); }
    BlockReader& reader() { return reader_; }
    // Carving ranges again after the first pass: the holes are final.
    bool again() const { return again_; }

    // Starts the next range the reader reads again; false when none is left.
    bool restart(uint64_t& pos, uint64_t& limit) {
        for (auto& b : blocks_) reader_.recycle(std::move(b));
        blocks_.clear();
        if (!reader_.next_range(limit)) return false;
        again_ = true;
        eof_ = false;
        if (!pull()) return false;
        pos = blocks_.front()->off;
        return true;
    }

    // The first byte in [off, off + n) that the blocks hold as a hole.
    uint64_t first_hole(uint64_t off, uint64_t n) const {
        for (const BlockPtr& b : blocks_)
            for (const auto& [from, to] : b->holes)
                if (from < off + n && to > off) return std::max(from, off);
        return UINT64_MAX;
    }

    bool pull() {
        if (eof_) return false;
        BlockPtr b = reader_.next();
        if (!b) {
            eof_ = true;
            return false;
        }
        end_ = b->off + b->len;
        blocks_.push_back(std::move(b));
        return true;
    }

    void drop_before(uint64_t off) {
        while (!blocks_.empty() && blocks_.front()->off + blocks_.front()->len <= off) {
            reader_.recycle(std::move(blocks_.front()));
            blocks_.pop_front();
        }
    }

    const Block* block_at(uint64_t off) const {
        if (off < begin() || off >= end_) return nullptr;
        size_t i = static_cast<size_t>((off - begin()) / blocks_.front()->data.size());
        while (i < blocks_.size() && blocks_[i]->off + blocks_[i]->len <= off) ++i;
        while (i > 0 && blocks_[i]->off > off) --i;
        return blocks_[i].get();
    }

    size_t copy(uint64_t off, uint8_t* out, size_t n) const {
        size_t done = 0;
        while (done < n) {
            const Block* b = block_at(off + done);
            if (!b) break;
            size_t at = static_cast<size_t>(off + done - b->off);
            size_t take = std::min(n - done, b->len - at);
            std::memcpy(out + done, b->data.data() + at, take);
            done += take;
        }
        return done;
    }

private:
    BlockReader& reader_;
    std::deque<BlockPtr> blocks_;
    uint64_t end_ = 0;
    bool eof_ = false;
    bool again_ = false;
};

// A candidate's bytes: from the window, which grows up to a cap by pulling
// blocks the reader has read anyway; past the cap, by direct reads.
class WindowSource final : public Source {
public:
    WindowSource(Window& w, const Device& dev, uint64_t start, uint64_t cap,
                 const std::atomic<bool>& stop)
        : w_(w), dev_(dev), start_(start), cap_(cap), stop_(stop) {}

    // The first byte read that was no byte of the device (zero-filled),
    // relative to the start; UINT64_MAX when none.
    uint64_t hole() const { return hole_; }
    // How far the reads reached, relative to the start.
    uint64_t reach() const { return reach_; }
    // The first byte of a hole read, or lying before the reads' reach or
    // `length`, relative to the start: a file of that length has no bytes
    // of the device from there on.
    uint64_t hole_within(uint64_t length) const {
        const uint64_t n = std::max(reach_, length);
        const uint64_t at = std::min(w_.first_hole(start_, n), w_.holes().first_in(start_, start_ + n));
        return std::min(hole_, at == UINT64_MAX ? UINT64_MAX : at - start_);
    }

    size_t read(uint64_t off, void* buf, size_t n) override {
        if (stop_.load(std::memory_order_relaxed)) return 0;
        uint64_t abs = start_ + off;
        auto* out = static_cast<uint8_t*>(buf);
        while (abs + n > w_.end() && w_.end() - w_.begin() < cap_ && w_.pull()) {
        }
        size_t got = 0;
        if (abs >= w_.begin()) got = w_.copy(abs, out, n);
        note(abs, got, w_.first_hole(abs, got));
        if (got == n || (w_.at_eof() && !w_.again() && abs >= w_.begin())) return got;  // the device end
        if (!dev_.seekable) return got;
        uint64_t hole = UINT64_MAX;
        const size_t more = read_around_holes(dev_, w_.holes(), out + got, n - got, abs + got, &hole, stop_);
        note(abs + got, more, hole);
        return got + more;
    }

private:
    Window& w_;
    const Device& dev_;
    uint64_t start_, cap_;
    const std::atomic<bool>& stop_;
    uint64_t hole_ = UINT64_MAX;
    uint64_t reach_ = 0;

    void note(uint64_t abs, size_t n, uint64_t hole) {
        reach_ = std::max(reach_, abs + n - start_);
        if (hole != UINT64_MAX && hole >= start_) hole_ = std::min(hole_, hole - start_);
    }
};

// A candidate whose walk read a hole: none when the file ends before it;
// carved again later while the hole may still be read; otherwise cut at the
// hole, unless a rejected walk barely reached it (its own bytes decided).
enum class HoleVerdict { None, Defer, Cut };
constexpr uint64_t kRejectReach = 4096;

HoleVerdict judge_hole(uint64_t hole, uint64_t reach, const Carve& cv, bool final) {
    if (hole == UINT64_MAX || hole == 0 || (cv.length != 0 && cv.length <= hole)) return HoleVerdict::None;
    if (!final) return HoleVerdict::Defer;
    if (cv.length == 0 && reach < hole + kRejectReach) return HoleVerdict::None;
    return HoleVerdict::Cut;
}

struct Candidate {
    const Format* format;
    std::string_view signature;
    uint64_t max_size;
    std::string ext;
    uint64_t* no_start_before;  // shared by the format's signatures: see Carve::skip
};

bool read_dev_file(const std::string& path, unsigned& maj, unsigned& min) {
    std::ifstream in(path);
    char colon;
    return static_cast<bool>(in >> maj >> colon >> min) && colon == ':';
}

// Collects the devices a block device is built on: the disk of a partition,
// the members of device-mapper and md volumes, recursively.
void underlying(unsigned maj, unsigned min, std::vector<dev_t>& out, int depth) {
    out.push_back(makedev(maj, min));
    if (depth > 8) return;
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", maj, min);
    char real[PATH_MAX];
    if (!::realpath(link, real)) return;
    std::string dir = real;
    if (::access((dir + "/partition").c_str(), F_OK) == 0) {
        unsigned pmaj, pmin;
        if (read_dev_file(dir.substr(0, dir.rfind('/')) + "/dev", pmaj, pmin))
            underlying(pmaj, pmin, out, depth + 1);
    }
    if (DIR* d = ::opendir((dir + "/slaves").c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            unsigned smaj, smin;
            if (read_dev_file(dir + "/slaves/" + e->d_name + "/dev", smaj, smin))
                underlying(smaj, smin, out, depth + 1);
        }
        ::closedir(d);
    }
}

ScanResult fail(ScanStatus st, std::string msg) {
    ScanResult r;
    r.status = st;
    r.message = std::move(msg);
    return r;
}

}  // namespace

bool path_on_block_device(const std::string& path, dev_t rdev) {
    std::string p = path.empty() ? "." : path;
    struct stat st;
    while (::stat(p.c_str(), &st) != 0) {  // nearest existing parent
        size_t slash = p.find_last_of('/');
        if (slash == std::string::npos) p = ".";
        else p = slash == 0 ? "/" : p.substr(0, slash);
    }
    std::vector<dev_t> devs;
    underlying(major(st.st_dev), minor(st.st_dev), devs, 0);
    for (dev_t d : devs)
        if (d == rdev) return true;
    return false;
}

ScanResult run_scan(const ScanOptions& opt, const std::atomic<bool>& stop) {
    Device dev;
    dev.read_at = opt.read_at;
    dev.fd = ::open(opt.device.c_str(), O_RDONLY | O_CLOEXEC);
    if (dev.fd < 0) return fail(ScanStatus::BadInput, opt.device + ": " + std::strerror(errno));
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{dev.fd};
    struct stat st;
    if (::fstat(dev.fd, &st) != 0 || S_ISDIR(st.st_mode))
        return fail(ScanStatus::BadInput, opt.device + ": not a device or disk image");
    dev.seekable = !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode);
    if (S_ISBLK(st.st_mode) && path_on_block_device(opt.out_dir, st.st_rdev))
        return fail(ScanStatus::BadInput,
                    "output folder " + opt.out_dir + " is on the device being scanned");
    if (dev.seekable) ::posix_fadvise(dev.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    bypass_cache(dev, opt.device, st);
    struct DirectCloser {
        const Device& d;
        ~DirectCloser() {
            if (d.direct_fd >= 0) ::close(d.direct_fd);
        }
    } direct_closer{dev};
    // Walks reading past the window go through the (flushed) cache: read-ahead
    // for long walks, and the copy of a long file finds what the walk read.
    Device walk_dev = dev;
    walk_dev.direct_fd = -1;

    // Keys enabled but without a parser are accepted and carve nothing.
    // Plain text is the fallback: tried after every other format at a sector.
    std::array<std::vector<Candidate>, 256> dispatch;
    std::deque<uint64_t> no_start_before;  // per format; a deque keeps the addresses
    std::vector<const Format*> order;
    for (const Format* f : all_formats())
        if (f->key != "txt") order.push_back(f);
    for (const Format* f : all_formats())
        if (f->key == "txt") order.push_back(f);
    for (const Format* f : order) {
        if (!opt.enabled.count(std::string(f->key))) continue;
        const TypeInfo* info = opt.table ? opt.table->find(f->key) : nullptr;
        if (!info) return fail(ScanStatus::BadInput, "no types table entry for " + std::string(f->key));
        uint64_t* skip = &no_start_before.emplace_back(0);
        for (std::string_view sig : f->signatures)
            if (!sig.empty())
                dispatch[static_cast<uint8_t>(sig[0])].push_back({f, sig, info->max_size, info->ext, skip});
    }

    OutputDir out;
    std::string err;
    if (!out.open(opt.out_dir, err)) return fail(ScanStatus::BadInput, "output folder " + err);
    if (opt.force_flock) out.force_flock_mode();

    fs::Map fsmap;
    if (opt.file_systems) fsmap = fs::probe_device(dev, stop);

    ScanCheckpoints checkpoints;
    if (dev.seekable) checkpoints.begin(opt.out_dir, identity::device_identity(dev.fd), opt.command, opt.resume,
                                       opt.checkpoint_every);
    if (checkpoints.resumed()) out.keep_existing();

    ScanResult res;
    res.status = ScanStatus::Complete;
    {
        BlockReader reader(dev, opt.block_size, opt.queue_depth, stop, opt.retry, {}, checkpoints.start());
        Window w(reader);
        uint64_t pos = checkpoints.start();
        uint64_t limit = UINT64_MAX;  // carving again: the end of the range
        fs::Claimed claimed;
        for (const auto& [from, to] : checkpoints.claimed()) claimed.add(from, to);
        while (res.status == ScanStatus::Complete) {
            if (stop.load()) {
                res.status = ScanStatus::Stopped;
                break;
            }
            w.drop_before(pos);
            progress().at(dev.fd, pos, reader.holes().bytes());
            // Past an unreadable area the deferred candidates are not in the checkpoint: none is taken.
            if (!w.again() && reader.holes().bytes() == 0) checkpoints.at(pos, [&] { return claimed.list(); });
            if (pos >= w.end() && pos < limit && w.pull()) continue;
            if (pos >= w.end() || pos >= limit) {
                if (!w.restart(pos, limit)) break;
                continue;
            }
            const Block* b = w.block_at(pos);
            uint64_t bend = b->off + b->len;
            bool carved = false;
            for (; pos < std::min(bend, limit) && !carved; pos += kSector) {
                if (pos >= claimed.next()) {  // a later piece of a file carved already
                    pos = claimed.skip(pos) - kSector;
                    continue;
                }
                if (!b->holes.empty() && b->in_hole(pos)) continue;
                const uint8_t* head = b->data.data() + (pos - b->off);
                const auto& cands = dispatch[head[0]];
                if (cands.empty()) continue;
                size_t avail = static_cast<size_t>(bend - pos);
                for (const Candidate& c : cands) {
                    if (pos < *c.no_start_before || c.signature.size() > avail ||
                        std::memcmp(head, c.signature.data(), c.signature.size()) != 0)
                        continue;
                    if (c.format->check && !c.format->check(head, avail)) continue;
                    WindowSource src(w, walk_dev, pos, opt.window_cap, stop);
                    WindowSource phys(w, walk_dev, 0, opt.window_cap, stop);
                    fs::FsCarve fc;
                    uint64_t cluster;
                    if (!fsmap.empty()) fc = fs::carve_free_stream(fsmap, *c.format, c.max_size, pos, phys);
                    Carve cv = fc.body() ? fc.cv : c.format->walk(src, c.max_size);
                    const uint64_t skip = cv.length == 0 ? cv.skip : 0;
                    if ((cv.length == 0 || cv.length > c.max_size) && !fsmap.empty()) {
                        fc = fs::stitch(fsmap, *c.format, c.max_size, pos, phys);
                        cv = fc.cv;
                    } else if (!fsmap.empty() && fsmap.free_cluster_at(pos, cluster)) {
                        fs::recheck(fsmap, *c.format, c.max_size, pos, phys, fc, cv);
                    }
                    if (fc.body() && phys.hole() != UINT64_MAX && w.again()) {  // read plainly, cut at the hole
                        fc = fs::FsCarve{};
                        cv = c.format->walk(src, c.max_size);
                    }
                    const uint64_t hole = fc.body() && phys.hole() != UINT64_MAX
                                              ? std::min(src.hole(), std::max(phys.hole(), pos + kSector) - pos)
                                              : src.hole_within(cv.length);
                    switch (judge_hole(hole, src.reach(), cv, w.again())) {
                    case HoleVerdict::None: break;
                    case HoleVerdict::Defer:
                        reader.defer(pos, pos + hole);
                        pos = std::max(pos, (pos + hole) / kSector * kSector - kSector);
                        carved = true;
                        break;
                    case HoleVerdict::Cut:
                        cv = Carve{hole, cv.ext};
                        fc.partial = true;
                        break;
                    }
                    if (carved) break;
                    if (cv.length == 0 || cv.length > c.max_size) {
                        if (skip) *c.no_start_before = pos + skip;
                        continue;
                    }
                    std::string ext = cv.ext ? cv.ext : c.ext;
                    const fs::DeletedEntry* entry =
                        fsmap.entry_for(pos, fc.partial ? 0 : cv.length, ext);
                    Naming naming;
                    if (entry) naming = {entry->folder, entry->name, entry->mtime};
                    if (fc.partial) {  // a name that says so, the extension still the type's
                        if (entry) naming.name.insert(naming.name.rfind('.'), ".partial");
                        ext = "partial." + ext;
                    }
                    Source& body = fc.body() ? *fc.body() : src;
                    WriteResult wr = out.write(pos / kSector, ext, body, cv.length, stop,
                                               entry ? &naming : nullptr);
                    if (wr.status == WriteStatus::Stopped) {
                        res.status = ScanStatus::Stopped;
                    } else if (wr.status == WriteStatus::DiskFull) {
                        res.status = ScanStatus::OutputFailed;
                        res.message = "output disk full: " + wr.error;
                    } else if (wr.status == WriteStatus::Failed) {
                        res.status = ScanStatus::OutputFailed;
                        res.message = "cannot write carved file: " + wr.error;
                    } else {
                        ++res.files;
                    }
                    // A size claimed by a header alone leaves its range open to the
                    // scan. After a file read across live clusters, the raw scan goes
                    // on into those live files.
                    if (!cv.claimed) {
                        uint64_t end = pos + cv.length;
                        bool first = true;
                        fc.pieces(cv.length, [&](uint64_t from, uint64_t to) {
                            if (first) end = to;
                            else claimed.add(from, to);
                            first = false;
                        });
                        pos = (end + kSector - 1) / kSector * kSector - kSector;
                    }
                    carved = true;
                    break;
                }
            }
        }
        // Small deleted files the file system kept inside its own records, and compressed ones.
        WindowSource phys(w, walk_dev, 0, opt.window_cap, stop);
        std::vector<uint8_t> head(4096);
        for (const fs::DeletedEntry& e : fsmap.entries()) {
            if ((e.resident.empty() && e.packed.empty()) || res.status != ScanStatus::Complete || stop.load()) continue;
            size_t got = fs::resident_head(e, phys, head.data(), head.size());
            if (got == 0) continue;
            for (const Candidate& c : dispatch[head[0]]) {
                if (c.signature.size() > got || std::memcmp(head.data(), c.signature.data(), c.signature.size()) != 0 ||
                    (c.format->check && !c.format->check(head.data(), got)))
                    continue;
                fs::FsCarve fc = fs::carve_resident(e, *c.format, c.max_size, phys);
                if (!fc.body()) continue;
                std::string ext = fc.cv.ext ? fc.cv.ext : c.ext;
                Naming naming{e.folder, e.name, e.mtime};
                WriteResult wr = out.write(e.start / kSector, ext, *fc.body(), fc.cv.length, stop,
                                           fs::extension_matches(e.name, ext) ? &naming : nullptr);
                if (wr.status == WriteStatus::Ok) {
                    ++res.files;
                } else if (wr.status == WriteStatus::Stopped) {
                    res.status = ScanStatus::Stopped;
                } else {
                    res.status = ScanStatus::OutputFailed;
                    res.message = (wr.status == WriteStatus::DiskFull ? "output disk full: " : "cannot write carved file: ") + wr.error;
                }
                break;
            }
        }
        if (stop.load() && res.status == ScanStatus::Complete) res.status = ScanStatus::Stopped;
        if (int lost = dev.health->lost_errno.load(); lost && res.status == ScanStatus::Complete) {
            res.status = ScanStatus::ReadFailed;
            res.message = opt.device + ": the device stopped answering at byte " +
                          std::to_string(dev.health->lost_at.load()) + " (" + std::strerror(lost) +
                          "); the scan is incomplete";
        }
        res.unreadable = reader.holes().bytes();
        progress().finish(res.unreadable);
        if (res.status == ScanStatus::Complete) checkpoints.finish(w.end());
    }
    res.bad_sectors = res.unreadable / kSector;
    return res;
}

}  // namespace carver
