// Stands in for the engine in the results benchmark: copies every file of the
// folder `bench-source` (beside argv[0]) into the output folder named after
// "/d", each written under an exclusive lock as the engine writes, then
// records when the last one was complete (CLOCK_MONOTONIC ns) in
// `bench-last-write` beside argv[0].
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

long long NowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

bool CopyOne(const std::string& from, const std::string& to, std::vector<char>& buffer)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    ::flock(out, LOCK_EX);
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (::write(out, buffer.data(), static_cast<size_t>(got)) != got) {
            ok = false;
            break;
        }
    }
    ::flock(out, LOCK_UN);
    ::close(out);
    ::close(in);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string outDir;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "/d") == 0)
            outDir = argv[i + 1];
    const std::string self = argv[0];
    const std::string home = self.substr(0, self.rfind('/'));
    const std::string source = home + "/bench-source";
    if (outDir.empty())
        return 2;
    // The output folder is the engine's to make, parents included.
    for (size_t slash = 1; slash != std::string::npos; slash = outDir.find('/', slash + 1))
        ::mkdir(outDir.substr(0, slash).c_str(), 0700);
    ::mkdir(outDir.c_str(), 0700);
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(source.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    std::vector<char> buffer(1 << 20);
    int copied = 0;
    for (const std::string& name : names)
        copied += CopyOne(source + "/" + name, outDir + "/" + name, buffer) ? 1 : 0;
    if (FILE* stamp = std::fopen((home + "/bench-last-write").c_str(), "w")) {
        std::fprintf(stamp, "%lld %d\n", NowNs(), copied);
        std::fclose(stamp);
    }
    return 0;
}
