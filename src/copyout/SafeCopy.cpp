#include "SafeCopy.h"

#include <QFile>
#include <cerrno>
#include <memory>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Paths.h"
#include "TargetNames.h"

namespace snapmend {
namespace {

constexpr size_t kCopyBlock = 1 << 20;
constexpr mode_t kTargetMode = 0600;
// Enough numbered names for any real folder; a bound so that a folder full of
// them cannot keep the copy looping.
constexpr int kMaxNumberedNames = 100000;

// Closes a descriptor once, whatever path leaves the scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int Close()
    {
        const int result = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies everything from in to out; false with errno set on a failure. The
// kernel copies when it can (no trip through user space, extents shared
// where the file system allows); otherwise, or when it declines before the
// first byte, read and write carry on from the same positions.
bool CopyBytes(int in, int out)
{
    constexpr size_t kKernelCopyChunk = size_t{1} << 30;
    bool kernelCopied = false;
    for (;;) {
        const ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, kKernelCopyChunk, 0);
        if (moved > 0) {
            kernelCopied = true;
            continue;
        }
        if (moved == 0 && kernelCopied)
            return true;
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF && errno != EPERM)
            return false;
        break;  // declined, or 0 at the start: some file systems report no data that way
    }
    std::unique_ptr<char[]> buffer(new char[kCopyBlock]);
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), kCopyBlock);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!WriteAll(out, buffer.get(), static_cast<size_t>(got)))
            return false;
    }
}

QByteArray Candidate(const QString& fileName, int n)
{
    return QFile::encodeName(n == 1 ? fileName : NumberedFileName(fileName, n));
}

// File systems without owners and modes (FAT) refuse to change them; there
// the mount decides who may use the files.
bool Unsupported(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL; }

bool HandOver(int fd, const std::optional<Account>& owner, mode_t mode)
{
    if (owner && ::fchown(fd, owner->uid, owner->gid) != 0 && !Unsupported(errno))
        return false;
    return ::fchmod(fd, mode) == 0 || Unsupported(errno);
}

// Bytes, owner, mode and a flush: the content is complete on the disk.
bool FillTarget(int in, int out, const std::optional<Account>& owner)
{
    return CopyBytes(in, out) && HandOver(out, owner, kTargetMode) && ::fsync(out) == 0;
}

// Unnamed file linked under the first free name once complete. Nothing when
// the file system has no O_TMPFILE.
std::optional<CopyOutcome> CopyUnnamed(int in, int dir, const QString& folder, const QString& fileName,
                                       const std::optional<Account>& owner)
{
    Fd out(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kTargetMode));
    if (out.get() < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return std::nullopt;
        return CopyOutcome{false, errno, {}};
    }
    if (!FillTarget(in, out.get(), owner))
        return CopyOutcome{false, errno, {}};
    const std::string proc = "/proc/self/fd/" + std::to_string(out.get());
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QByteArray name = Candidate(fileName, n);
        if (::linkat(AT_FDCWD, proc.c_str(), dir, name.constData(), AT_SYMLINK_FOLLOW) == 0 ||
            (errno == ENOENT && ::linkat(out.get(), "", dir, name.constData(), AT_EMPTY_PATH) == 0))  // no /proc
            return CopyOutcome{true, 0, JoinPath(folder, QFile::decodeName(name))};
        if (errno != EEXIST)
            return CopyOutcome{false, errno, {}};
    }
    return CopyOutcome{false, EEXIST, {}};
}

// File systems without O_TMPFILE (FAT): the first free name, created
// exclusively, removed again when the copy fails.
CopyOutcome CopyNamed(int in, int dir, const QString& folder, const QString& fileName,
                      const std::optional<Account>& owner)
{
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QByteArray name = Candidate(fileName, n);
        Fd out(::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kTargetMode));
        if (out.get() < 0) {
            if (errno == EEXIST)
                continue;
            return {false, errno, {}};
        }
        if (!FillTarget(in, out.get(), owner) || out.Close() != 0) {
            const int error = errno;
            ::unlinkat(dir, name.constData(), 0);
            return {false, error, {}};
        }
        return {true, 0, JoinPath(folder, QFile::decodeName(name))};
    }
    return {false, EEXIST, {}};
}

}  // namespace

bool EnsureOutputFolder(const QString& folder, const std::optional<Account>& owner)
{
    if (folder.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(folder);
    const bool made = ::mkdir(native.constData(), 0700) == 0;
    if (!made && errno != EEXIST)
        return false;
    // A folder made here is handed over only as itself: if it was swapped for
    // a link meanwhile, the link's target is not given away.
    Fd dir(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (made ? O_NOFOLLOW : 0)));
    if (dir.get() < 0)
        return false;
    return !made || HandOver(dir.get(), owner, 0700);
}

CopyOutcome CopyToNewFile(const QString& source, const QString& folder, const QString& fileName,
                          const std::optional<Account>& owner)
{
    Fd in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (in.get() < 0)
        return {false, errno, {}};
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        return {false, errno, {}};
    if (!S_ISREG(info.st_mode))
        return {false, EINVAL, {}};
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')) || fileName == QLatin1String(".") ||
        fileName == QLatin1String(".."))
        return {false, EINVAL, {}};

    QString cleanFolder = folder;
    while (cleanFolder.size() > 1 && cleanFolder.endsWith(QLatin1Char('/')))
        cleanFolder.chop(1);
    // The folder the user chose may itself be a link; what lies in it is never followed.
    Fd dir(::open(QFile::encodeName(cleanFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return {false, errno, {}};
    if (std::optional<CopyOutcome> unnamed = CopyUnnamed(in.get(), dir.get(), cleanFolder, fileName, owner))
        return *unnamed;
    return CopyNamed(in.get(), dir.get(), cleanFolder, fileName, owner);
}

}  // namespace snapmend
