// Micro-benchmarks of the carving core: parser walks and a whole scan of an
// in-memory image written to a temporary file.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/format.h"
#include "core/scan.h"
#include "core/types_table.h"

namespace {

// A minimal valid PNG of `n` IDAT bytes (contents are not decoded by the walk).
std::vector<uint8_t> synthetic_png(size_t n) {
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        uint32_t len = static_cast<uint32_t>(data.size());
        for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(len >> s));
        size_t at = f.size();
        f.insert(f.end(), type, type + 4);
        f.insert(f.end(), data.begin(), data.end());
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = at; i < f.size(); ++i) {
            c ^= f[i];
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        c ^= 0xFFFFFFFFu;
        for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(c >> s));
    };
    chunk("IHDR", {0, 0, 1, 0, 0, 0, 1, 0, 8, 2, 0, 0, 0});
    std::vector<uint8_t> idat(n);
    std::mt19937 rng(1);
    for (auto& b : idat) b = static_cast<uint8_t>(rng());
    chunk("IDAT", idat);
    chunk("IEND", {});
    return f;
}

void BM_PngWalk(benchmark::State& state) {
    auto png = synthetic_png(static_cast<size_t>(state.range(0)));
    const carver::Format* f = carver::find_format("png");
    for (auto _ : state) {
        carver::BufferSource src(png.data(), png.size());
        benchmark::DoNotOptimize(f->walk(src, 1ull << 30));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * png.size()));
}
BENCHMARK(BM_PngWalk)->Arg(1 << 16)->Arg(8 << 20);

void BM_ScanRandom(benchmark::State& state) {
    char path[] = "/tmp/bench-carver-XXXXXX";
    int fd = ::mkstemp(path);
    std::vector<uint8_t> block(1 << 20);
    std::mt19937 rng(2);
    for (int i = 0; i < 256; ++i) {
        for (auto& b : block) b = static_cast<uint8_t>(rng());
        if (::write(fd, block.data(), block.size()) < 0) state.SkipWithError("write failed");
    }
    ::close(fd);
    std::string table_text;
    for (const carver::Format* f : carver::all_formats())
        table_text += std::string(f->key) + " " + std::string(f->key) + " 1000000\n";
    carver::TypeTable table;
    std::string err;
    table.parse(table_text, err);
    std::string out = std::string(path) + ".out";
    std::atomic<bool> stop{false};
    for (auto _ : state) {
        carver::ScanOptions o;
        o.device = path;
        o.out_dir = out;
        o.table = &table;
        for (const carver::Format* f : carver::all_formats()) o.enabled.insert(std::string(f->key));
        benchmark::DoNotOptimize(carver::run_scan(o, stop));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (256ll << 20));
    ::unlink(path);
    ::rmdir(out.c_str());
}
BENCHMARK(BM_ScanRandom)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
