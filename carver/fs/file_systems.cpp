// The scan's view of the file systems (core/file_systems.h), answered from
// the map of volumes and deleted entries.
#include "core/file_systems.h"

#include "fs/scan_hook.h"

namespace carver {
namespace fs {
namespace {

class MapReading final : public Reading {
public:
    Source* body() override { return fc.body(); }
    void pieces(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn) override {
        fc.pieces(length, fn);
    }
    FsCarve fc;
};

Naming naming_of(const DeletedEntry& e) { return {e.folder, e.name, e.mtime}; }

class MapFileSystems final : public FileSystems {
public:
    explicit MapFileSystems(Map m) : map_(std::move(m)) {
        for (const DeletedEntry& e : map_.entries())
            if (!e.resident.empty() || !e.packed.empty()) resident_.push_back(&e);
    }

    // A deleted entry's piece list or the free-cluster stream when either
    // reads the file; else the contiguous bytes; a file those do not prove
    // whole is stitched across other deleted files' clusters.
    std::unique_ptr<Reading> read(const Format& f, uint64_t max_size, uint64_t pos, Source& contiguous,
                                  Source& phys) override {
        auto r = std::make_unique<MapReading>();
        FsCarve& fc = r->fc;
        const bool volumes = !map_.empty();
        if (volumes) fc = carve_free_stream(map_, f, max_size, pos, phys);
        Carve cv = fc.body() ? fc.cv : f.walk(contiguous, max_size);
        r->skip = cv.length == 0 ? cv.skip : 0;
        uint64_t cluster;
        if (volumes && (cv.length == 0 || cv.length > max_size)) {
            fc = stitch(map_, f, max_size, pos, phys);
            cv = fc.cv;
        } else if (volumes && map_.free_cluster_at(pos, cluster)) {
            recheck(map_, f, max_size, pos, phys, fc, cv);
        }
        r->cv = cv;
        r->partial = fc.partial || cv.partial;
        return r;
    }

    bool name_for(uint64_t pos, uint64_t length, const std::string& ext, Naming& out,
                  std::string_view& origin) const override {
        const DeletedEntry* e = map_.entry_for(pos, length, ext);
        if (!e) return false;
        out = naming_of(*e);
        origin = e->origin;
        return true;
    }

    size_t resident_count() const override { return resident_.size(); }
    uint64_t resident_start(size_t i) const override { return resident_[i]->start; }
    size_t resident_head(size_t i, Source& phys, uint8_t* buf, size_t n) override {
        return fs::resident_head(*resident_[i], phys, buf, n);
    }
    std::unique_ptr<Reading> read_resident(size_t i, const Format& f, uint64_t max_size, Source& phys) override {
        auto r = std::make_unique<MapReading>();
        r->fc = carve_resident(*resident_[i], f, max_size, phys);
        if (!r->fc.body()) return nullptr;
        r->cv = r->fc.cv;
        return r;
    }
    bool resident_name(size_t i, const std::string& ext, Naming& out, std::string_view& origin) const override {
        if (!extension_matches(resident_[i]->name, ext)) return false;
        out = naming_of(*resident_[i]);
        origin = resident_[i]->origin;
        return true;
    }

private:
    Map map_;
    std::vector<const DeletedEntry*> resident_;
};

}  // namespace
}  // namespace fs

std::unique_ptr<FileSystems> probe_file_systems(const Device& dev, const std::atomic<bool>& stop) {
    fs::Map map = fs::probe_device(dev, stop);
    if (map.empty() && map.entries().empty()) return nullptr;
    return std::make_unique<fs::MapFileSystems>(std::move(map));
}

}  // namespace carver
