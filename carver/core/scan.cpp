#include "core/scan.h"

#include <algorithm>
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
#include "core/file_systems.h"
#include "core/format.h"
#include "core/output.h"
#include "core/progress.h"
#include "core/report.h"

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

constexpr std::string_view kCarved = "carved";  // a name the engine made up

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

// Whether the bytes at a sector start (`avail` of them in memory) open a file of c.
bool opens(const Candidate& c, const uint8_t* head, size_t avail) {
    return c.signature.size() <= avail && std::memcmp(head, c.signature.data(), c.signature.size()) == 0 &&
           (!c.format->check || c.format->check(head, avail));
}

// The enabled formats' candidates by the first byte of their signatures, in
// the order they are tried. Keys enabled but without a parser are accepted
// and carve nothing. Plain text is the fallback: tried after every other
// format at a sector.
class Dispatch {
public:
    bool build(const ScanOptions& opt, std::string& err) {
        std::vector<const Format*> order;
        for (const Format* f : all_formats())
            if (f->key != "txt") order.push_back(f);
        for (const Format* f : all_formats())
            if (f->key == "txt") order.push_back(f);
        for (const Format* f : order) {
            if (!opt.enabled.count(std::string(f->key))) continue;
            const TypeInfo* info = opt.table ? opt.table->find(f->key) : nullptr;
            if (!info) {
                err = "no types table entry for " + std::string(f->key);
                return false;
            }
            uint64_t* skip = &no_start_before_.emplace_back(0);
            for (std::string_view sig : f->signatures)
                if (!sig.empty())
                    by_first_byte_[static_cast<uint8_t>(sig[0])].push_back({f, sig, info->max_size, info->ext, skip});
        }
        return true;
    }
    const std::vector<Candidate>& starting_with(uint8_t b) const { return by_first_byte_[b]; }

private:
    std::array<std::vector<Candidate>, 256> by_first_byte_;
    std::deque<uint64_t> no_start_before_;  // per format; a deque keeps the addresses
};

// A candidate read from its contiguous bytes alone.
class ContiguousReading final : public Reading {
public:
    Source* body() override { return nullptr; }
    void pieces(uint64_t, const std::function<void(uint64_t, uint64_t)>&) override {}
};

// Where the first `length` bytes of a file read at pos lay on the device;
// none when they are not the device's bytes as they lie (expanded ones).
std::vector<ByteRun> runs_of(Reading& r, uint64_t pos, uint64_t length) {
    std::vector<ByteRun> runs;
    uint64_t at = 0;
    r.pieces(length, [&](uint64_t from, uint64_t to) {
        runs.push_back({at, from, to - from});
        at += to - from;
    });
    if (runs.empty() && !r.body()) runs.push_back({0, pos, length});
    return runs;
}

// The runs of bytes [offset, offset + length) of a file, counted from offset.
std::vector<ByteRun> slice_runs(const std::vector<ByteRun>& runs, uint64_t offset, uint64_t length) {
    std::vector<ByteRun> out;
    const uint64_t end = offset + length;
    for (const ByteRun& r : runs) {
        uint64_t from = std::max(offset, r.file_offset), to = std::min(end, r.file_offset + r.len);
        if (from < to) out.push_back({from - offset, r.img_offset + (from - r.file_offset), to - from});
    }
    return out;
}

std::unique_ptr<Reading> read_contiguous(const Format& f, uint64_t max_size, Source& src) {
    auto r = std::make_unique<ContiguousReading>();
    r->cv = f.walk(src, max_size);
    r->skip = r->cv.length == 0 ? r->cv.skip : 0;
    r->partial = r->cv.partial;
    return r;
}

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

// The device opened for reading, checked and with its cache bypassed;
// closes what it opened.
class OpenDevice {
public:
    ~OpenDevice() {
        if (dev.direct_fd >= 0) ::close(dev.direct_fd);
        if (dev.fd >= 0) ::close(dev.fd);
    }
    // "" once open, else why the device is refused.
    std::string open(const ScanOptions& opt) {
        dev.read_at = opt.read_at;
        dev.fd = ::open(opt.device.c_str(), O_RDONLY | O_CLOEXEC);
        if (dev.fd < 0) return opt.device + ": " + std::strerror(errno);
        struct stat st;
        if (::fstat(dev.fd, &st) != 0 || S_ISDIR(st.st_mode)) return opt.device + ": not a device or disk image";
        dev.seekable = !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode);
        if (S_ISBLK(st.st_mode) && path_on_block_device(opt.out_dir, st.st_rdev))
            return "output folder " + opt.out_dir + " is on the device being scanned";
        if (dev.seekable) ::posix_fadvise(dev.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        bypass_cache(dev, opt.device, st);
        // Walks reading past the window go through the (flushed) cache: read-ahead
        // for long walks, and the copy of a long file finds what the walk read.
        walk_dev = dev;
        walk_dev.direct_fd = -1;
        return "";
    }

    Device dev;
    Device walk_dev;
};

// One pass over the device: the sector loop, then the files kept inside
// file-system records, then the end status.
class Scanner {
public:
    Scanner(const ScanOptions& opt, const std::atomic<bool>& stop, const OpenDevice& device, const Dispatch& dispatch,
            OutputDir& out, FileSystems* fs, CarveReport& report, ScanCheckpoints& checkpoints)
        : opt_(opt), stop_(stop), dev_(device.dev), walk_dev_(device.walk_dev), dispatch_(dispatch), out_(out),
          fs_(fs), report_(report), checkpoints_(checkpoints) {
        res_.status = ScanStatus::Complete;
    }

    ScanResult run(ScanPosition at) {
        {
            BlockReader reader(dev_, opt_.block_size, opt_.queue_depth, stop_, opt_.retry, {},
                               {at.offset, std::move(at.unread), std::move(at.deferred)});
            Window w(reader);
            sector_loop(w, at);
            resident_pass(w);
            end_status();
            res_.unreadable = reader.holes().bytes();
            progress().finish(res_.unreadable);
            if (res_.status == ScanStatus::Complete) checkpoints_.finish(w.end());
        }
        res_.bad_sectors = res_.unreadable / kSector;
        return res_;
    }

private:
    WindowSource source_at(Window& w, uint64_t pos) { return WindowSource(w, walk_dev_, pos, opt_.window_cap, stop_); }

    void sector_loop(Window& w, ScanPosition& at) {
        while (res_.status == ScanStatus::Complete) {
            if (stop_.load()) {
                res_.status = ScanStatus::Stopped;
                break;
            }
            w.drop_before(at.offset);
            progress().at(dev_.fd, at.offset, w.holes().bytes());
            if (!w.again()) checkpoints_.at(at.offset, [&](Checkpoint& c) { return record(w, at, c); });
            if (at.offset >= w.end() && at.offset < limit_ && w.pull()) continue;
            if (at.offset >= w.end() || at.offset >= limit_) {  // on to the next range read again, if any
                if (!w.restart(at.offset, limit_)) break;
                continue;
            }
            scan_block(w, *w.block_at(at.offset), at);
        }
    }

    // What a scan going on from at.offset needs besides it: the later pieces
    // it passes over, the report so far (on disk first), and the areas before
    // it still to read again with the candidates put off until then.
    bool record(Window& w, const ScanPosition& at, Checkpoint& c) {
        const auto& r = at.claimed.ranges();
        c.claimed.assign(r.begin(), r.end());
        for (const auto& [from, to] : w.holes().list())
            if (from < at.offset) c.unread.emplace_back(from, std::min(to, at.offset));
        c.deferred = w.reader().deferred();
        return report_.sync(c.report_bytes);
    }

    // Tries the sectors of one block from at.offset on; returns at the
    // block's end or after a carved file (which may end in a later block).
    void scan_block(Window& w, const Block& b, ScanPosition& at) {
        const uint64_t bend = std::min(b.off + b.len, limit_);
        uint64_t pos = at.offset;
        while (pos < bend) {
            if (pos >= at.claimed.next()) {  // a later piece of a file carved already
                pos = at.claimed.skip(pos);
                continue;
            }
            if (!b.holes.empty() && b.in_hole(pos)) {
                pos += kSector;
                continue;
            }
            const uint8_t* head = b.data.data() + (pos - b.off);
            const size_t avail = static_cast<size_t>(bend - pos);
            for (const Candidate& c : dispatch_.starting_with(head[0])) {
                if (pos < *c.no_start_before || !opens(c, head, avail)) continue;
                at.offset = pos;
                if (try_candidate(c, w, at)) return;
            }
            pos += kSector;
        }
        at.offset = pos;
    }

    // Reads, names and writes the candidate at at.offset; true when it was a
    // file, at.offset then where the loop goes on.
    bool try_candidate(const Candidate& c, Window& w, ScanPosition& at) {
        const uint64_t pos = at.offset;
        WindowSource src = source_at(w, pos);
        WindowSource phys = source_at(w, 0);
        std::unique_ptr<Reading> r =
            fs_ ? fs_->read(*c.format, c.max_size, pos, src, phys) : read_contiguous(*c.format, c.max_size, src);
        if (r->body() && phys.hole() != UINT64_MAX && w.again())  // read plainly, cut at the hole
            r = read_contiguous(*c.format, c.max_size, src);
        const uint64_t hole = r->body() && phys.hole() != UINT64_MAX
                                  ? std::min(src.hole(), std::max(phys.hole(), pos + kSector) - pos)
                                  : src.hole_within(r->cv.length);
        switch (judge_hole(hole, src.reach(), r->cv, w.again())) {
        case HoleVerdict::None: break;
        case HoleVerdict::Defer:  // carved when the reader has tried the hole again
            w.reader().defer(pos, pos + hole);
            at.offset = std::max(pos + kSector, (pos + hole) / kSector * kSector);
            return true;
        case HoleVerdict::Cut:
            r->cv = Carve{hole, r->cv.ext};
            r->partial = true;
            break;
        }
        if (r->cv.length == 0 || r->cv.length > c.max_size) {
            if (r->skip) *c.no_start_before = pos + r->skip;
            return false;
        }
        std::string ext = r->cv.ext ? r->cv.ext : c.ext;
        Naming naming;
        std::string_view origin = kCarved;
        bool named = fs_ && fs_->name_for(pos, r->partial ? 0 : r->cv.length, ext, naming, origin);
        if (r->partial) {  // a name that says so, the extension still the type's
            if (named) naming.name.insert(naming.name.rfind('.'), ".partial");
            ext = "partial." + ext;
        }
        Source& body = r->body() ? *r->body() : src;
        WriteResult wr = out_.write(pos / kSector, ext, body, r->cv.length, stop_, named ? &naming : nullptr);
        if (note_write(wr)) {
            ReportEntry e{wr.name, r->cv.length, r->partial, origin, wr.requested, runs_of(*r, pos, r->cv.length)};
            res_.partial_files += r->partial;
            report_.add(e);
            if (r->cv.part_length) write_part(pos, body, r->cv, e, naming.mtime);
        }
        at.offset = r->cv.claimed ? pos + kSector : after_file(pos, *r, at.claimed);
        return true;
    }

    // A part of a file also written on its own beside it (a motion photo's
    // video): the file's folder and base name, the part's extension.
    void write_part(uint64_t pos, Source& body, const Carve& cv, const ReportEntry& file, int64_t mtime) {
        const size_t slash = file.filename.rfind('/');
        const std::string base = file.filename.substr(slash + 1);
        Naming naming;
        naming.folder = slash == std::string::npos ? "" : file.filename.substr(0, slash);
        naming.name = base.substr(0, base.rfind('.')) + "." + cv.part_ext;
        naming.mtime = mtime;
        OffsetSource part(body, cv.part_offset);
        WriteResult wr = out_.write(pos / kSector, cv.part_ext, part, cv.part_length, stop_, &naming);
        if (note_write(wr))
            report_.add({wr.name, cv.part_length, false, file.origin, wr.requested,
                         slice_runs(file.runs, cv.part_offset, cv.part_length)});
    }

    // A size claimed by a header alone leaves its range open to the scan
    // (see Carve::claimed). Otherwise the loop goes on after the file's first
    // piece and passes over its later ones when it meets them: after a file
    // read across live clusters, the raw scan goes on into those live files.
    static uint64_t after_file(uint64_t pos, Reading& r, ClaimedRanges& claimed) {
        uint64_t end = pos + r.cv.length;
        bool first = true;
        r.pieces(r.cv.length, [&](uint64_t from, uint64_t to) {
            if (first) end = to;
            else claimed.add(from, to);
            first = false;
        });
        return (end + kSector - 1) / kSector * kSector;
    }

    // Small deleted files the file system kept inside its own records, and compressed ones.
    void resident_pass(Window& w) {
        if (!fs_) return;
        WindowSource phys = source_at(w, 0);
        std::vector<uint8_t> head(4096);
        for (size_t i = 0; i < fs_->resident_count(); ++i) {
            if (res_.status != ScanStatus::Complete || stop_.load()) break;
            size_t got = fs_->resident_head(i, phys, head.data(), head.size());
            if (got == 0) continue;
            for (const Candidate& c : dispatch_.starting_with(head[0])) {
                if (!opens(c, head.data(), got)) continue;
                std::unique_ptr<Reading> r = fs_->read_resident(i, *c.format, c.max_size, phys);
                if (!r) continue;
                std::string ext = r->cv.ext ? r->cv.ext : c.ext;
                Naming naming;
                std::string_view origin = kCarved;
                bool named = fs_->resident_name(i, ext, naming, origin);
                WriteResult wr = out_.write(fs_->resident_start(i) / kSector, ext, *r->body(), r->cv.length, stop_,
                                            named ? &naming : nullptr);
                if (note_write(wr)) report_.add({wr.name, r->cv.length, false, origin, wr.requested, {}});
                break;
            }
        }
    }

    // Counts a written file (true), or turns the scan's status to say why it was not.
    bool note_write(const WriteResult& wr) {
        switch (wr.status) {
        case WriteStatus::Ok: ++res_.files; return true;
        case WriteStatus::Stopped: res_.status = ScanStatus::Stopped; return false;
        case WriteStatus::DiskFull:
            res_.status = ScanStatus::OutputFailed;
            res_.message = "output disk full: " + wr.error;
            return false;
        case WriteStatus::Failed:
            res_.status = ScanStatus::OutputFailed;
            res_.message = "cannot write carved file: " + wr.error;
            return false;
        }
        return false;
    }

    void end_status() {
        if (stop_.load() && res_.status == ScanStatus::Complete) res_.status = ScanStatus::Stopped;
        if (int lost = dev_.health->lost_errno.load(); lost && res_.status == ScanStatus::Complete) {
            res_.status = ScanStatus::ReadFailed;
            res_.message = opt_.device + ": the device stopped answering at byte " +
                           std::to_string(dev_.health->lost_at.load()) + " (" + std::strerror(lost) +
                           "); the scan is incomplete";
        }
    }

    const ScanOptions& opt_;
    const std::atomic<bool>& stop_;
    const Device& dev_;
    const Device& walk_dev_;
    const Dispatch& dispatch_;
    OutputDir& out_;
    FileSystems* fs_;
    CarveReport& report_;
    ScanCheckpoints& checkpoints_;
    ScanResult res_;
    uint64_t limit_ = UINT64_MAX;  // carving a range read again: its end
};

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

namespace {

// Takes up a checkpoint: its report goes on, the files it lists and any
// written since are kept, the loop starts at its position.
bool go_on(const Checkpoint& c, OutputDir& out, CarveReport& report, ScanPosition& start, ReportedFiles& before,
           std::string& err) {
    if (!report.reopen(out.fd(), c.report_bytes, before, err)) return false;
    out.keep_existing(before.names);
    start.offset = c.position;
    for (const auto& [from, to] : c.claimed) start.claimed.add(from, to);
    start.unread = c.unread;
    start.deferred = c.deferred;
    return true;
}

}  // namespace

ScanResult run_scan(const ScanOptions& opt, const std::atomic<bool>& stop) {
    OpenDevice device;
    if (std::string why = device.open(opt); !why.empty()) return fail(ScanStatus::BadInput, why);
    Dispatch dispatch;
    std::string err;
    if (!dispatch.build(opt, err)) return fail(ScanStatus::BadInput, err);
    OutputDir out;
    if (!out.open(opt.out_dir, err)) return fail(ScanStatus::BadInput, "output folder " + err);
    if (opt.force_flock) out.force_flock_mode();
    CarveReport report;
    ScanCheckpoints checkpoints;
    if (device.dev.seekable)
        checkpoints.begin(opt.out_dir, identity::device_identity(device.dev.fd), opt.command, opt.resume,
                          opt.checkpoint_every);
    ScanPosition start = opt.start;
    ReportedFiles before;  // by the scan broken off
    if (checkpoints.resumed() && !go_on(checkpoints.taken(), out, report, start, before, err)) {
        std::fprintf(stderr, "photo: %s; scanning from the start\n", err.c_str());
        checkpoints.start_over();
        out.keep_existing({});  // the files written before are still taken for the same files
    }
    if (!report.active() && !report.open(out.fd(), opt.device, err))
        return fail(ScanStatus::BadInput, "output folder " + err);
    std::unique_ptr<FileSystems> fs = opt.file_systems ? probe_file_systems(device.dev, stop) : nullptr;
    ScanResult res = Scanner(opt, stop, device, dispatch, out, fs.get(), report, checkpoints).run(start);
    res.files += before.names.size();
    res.partial_files += before.partial;
    if (!report.finish(err) && res.status == ScanStatus::Complete) {
        res.status = ScanStatus::OutputFailed;
        res.message = "cannot write the report: " + err;
    }
    return res;
}

}  // namespace carver
