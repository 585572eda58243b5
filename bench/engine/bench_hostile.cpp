// Hostile disk images against random data of the same size: wall time and
// peak memory of a whole scan (all types enabled), each in a fresh process.
//   bench_hostile [MiB] [--runs=N] [--signatures]
// --signatures adds one image per format signature repeated at every sector.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/format.h"
#include "core/scan.h"
#include "core/types_table.h"
#include "hostile.h"

extern char** environ;

namespace {

using namespace carver_test;

std::string self_dir() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string p(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return p.substr(0, p.rfind('/'));
}

// Child mode: one scan, exit status 0 when it completed.
int scan_one(const char* image, const char* out) {
    carver::TypeTable table;
    std::string err;
    if (!table.load(SNAPMEND_TYPES_TSV, err)) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 2;
    }
    carver::ScanOptions o;
    o.device = image;
    o.out_dir = out;
    o.table = &table;
    for (const carver::Format* f : carver::all_formats()) o.enabled.insert(std::string(f->key));
    std::atomic<bool> stop{false};
    carver::ScanResult r = carver::run_scan(o, stop);
    std::printf("%llu\n", static_cast<unsigned long long>(r.files));
    return r.status == carver::ScanStatus::Complete ? 0 : 1;
}

struct Run {
    double seconds = 0;
    double peak_mib = 0;
    bool ok = false;
    uint64_t out_bytes = 0;  // carved files' total size
};

uint64_t folder_bytes(const std::string& dir) {
    uint64_t sum = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            struct stat st;
            if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
                sum += static_cast<uint64_t>(st.st_size);
        }
        ::closedir(d);
    }
    return sum;
}

// Child mode: copies `bytes` of `from` (repeated if shorter) into a new file
// `to`, as plainly as a copy can be: the cost of writing that much output.
int copy_bytes(const char* from, const char* to, uint64_t bytes) {
    int in = ::open(from, O_RDONLY | O_CLOEXEC);
    int out = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (in < 0 || out < 0) return 2;
    std::vector<char> buf(1 << 20);
    while (bytes > 0) {
        ssize_t n = ::read(in, buf.data(), std::min<uint64_t>(buf.size(), bytes));
        if (n == 0 && ::lseek(in, 0, SEEK_SET) == 0) continue;
        if (n <= 0 || ::write(out, buf.data(), static_cast<size_t>(n)) != n) return 1;
        bytes -= static_cast<uint64_t>(n);
    }
    ::close(in);
    return ::close(out) == 0 ? 0 : 1;
}

// Runs this program again with `args`; its peak memory is its own, since the
// images are built in children too and this process stays small.
Run spawn(const std::string& exe, std::vector<std::string> args) {
    std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid;
    Run r;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) return r;
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.peak_mib = static_cast<double>(ru.ru_maxrss) / 1024.0;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

// One scan into a fresh folder, removed afterwards.
Run scan_into(const std::string& exe, const std::string& image, const std::string& out) {
    Run r = spawn(exe, {"--scan", image, out});
    r.out_bytes = folder_bytes(out);
    std::system(("rm -rf '" + out + "'").c_str());
    return r;
}

struct Best {
    Run hostile, random;
    double copy_seconds = 0;  // writing the hostile scan's output from random data
};

// The fastest of `runs` scans of each image, the hostile and the random image
// taking turns so that both see the same load on a shared machine. When the
// hostile scan writes files, a plain copy of as many bytes joins the turns.
Best best_of_interleaved(int runs, const std::string& exe, const std::string& image,
                         const std::string& random, const std::string& out) {
    Best best;
    for (int i = 0; i < runs; ++i) {
        Run b = scan_into(exe, random, out + ".r");
        Run r = scan_into(exe, image, out + ".h");
        if (i == 0 || b.seconds < best.random.seconds) best.random = b;
        if (i == 0 || r.seconds < best.hostile.seconds) best.hostile = r;
        if (r.out_bytes > 0) {
            std::string to = out + ".copy";
            Run c = spawn(exe, {"--copy", random, to, std::to_string(r.out_bytes)});
            ::unlink(to.c_str());
            if (best.copy_seconds == 0 || c.seconds < best.copy_seconds) best.copy_seconds = c.seconds;
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--scan") return scan_one(argv[2], argv[3]);
    if (argc == 5 && std::string(argv[1]) == "--copy")
        return copy_bytes(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
    if (argc == 5 && std::string(argv[1]) == "--make") {
        size_t size = std::strtoull(argv[3], nullptr, 10);
        write_file(argv[4], std::string(argv[2]) == "random" ? random_bytes(size, 12345)
                                                              : hostile_image(argv[2], size).data);
        return 0;
    }
    size_t mib = 16;
    bool signatures = false;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--signatures") signatures = true;
        else if (std::string(argv[i]).compare(0, 7, "--runs=") == 0) runs = std::max(1, std::atoi(argv[i] + 7));
        else mib = std::strtoul(argv[i], nullptr, 10);
    }
    const size_t size = mib << 20;
    const std::string exe = self_dir() + "/bench_hostile";
    TempDir dir;

    std::vector<std::string> names = {"tiff-subifds", "zip64-wrap", "pdf-no-eof", "swf-cws-bomb",
                                      "swf-zws-claim", "zip-many-locals", "zip-descriptors",
                                      "wav-claim", "every-signature"};
    if (signatures)
        for (size_t i = 0; i < signature_count(); ++i) names.push_back("signature-" + std::to_string(i));

    spawn(exe, {"--make", "random", std::to_string(size), dir / "random"});
    std::printf("%zu MiB images, best of %d scans each, hostile and random scans taking turns\n", mib, runs);
    std::printf("x random: against a scan of random data; x random+out: against that scan plus a plain\n"
                "copy of as many bytes as the hostile scan carved (for images that claim files)\n");
    std::printf("%-18s %8s %8s %9s %8s %12s %9s  %s\n", "image", "time s", "random s", "out MiB", "x random",
                "x random+out", "peak MiB", "scan");
    int worst = 0;
    for (const std::string& n : names) {
        std::string img = dir / n;
        spawn(exe, {"--make", n, std::to_string(size), img});
        Best b = best_of_interleaved(runs, exe, img, dir / "random", dir / (n + ".out"));
        ::unlink(img.c_str());
        const Run& r = b.hostile;
        double x = r.seconds / b.random.seconds;
        double x_out = r.seconds / (b.random.seconds + b.copy_seconds);
        bool within = r.ok && b.random.ok && x_out <= 2.0 && r.peak_mib < 128.0;
        worst += !within;
        std::printf("%-18s %8.3f %8.3f %9.1f %8.2f %12.2f %9.1f  %s\n", n.c_str(), r.seconds, b.random.seconds,
                    static_cast<double>(r.out_bytes) / (1 << 20), x, x_out, r.peak_mib,
                    !r.ok || !b.random.ok ? "FAILED" : within ? "ok" : "over 2x time or 128 MiB");
    }
    std::printf("%d image(s) over the bounds (2x random+out time, 128 MiB)\n", worst);
    return 0;
}
