#include "FileSystem.h"

#include "Paths.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace snapmend {
namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

FileStatus ToStatus(const struct stat& info)
{
    FileStatus status;
    if (S_ISREG(info.st_mode))
        status.kind = FileKind::Regular;
    else if (S_ISDIR(info.st_mode))
        status.kind = FileKind::Folder;
    else if (S_ISLNK(info.st_mode))
        status.kind = FileKind::Link;
    else if (S_ISBLK(info.st_mode))
        status.kind = FileKind::BlockDevice;
    status.owner = info.st_uid;
    status.permissions = info.st_mode & 07777;
    status.size = static_cast<quint64>(info.st_size);
    status.device = {major(info.st_dev), minor(info.st_dev)};
    status.deviceNode = {major(info.st_rdev), minor(info.st_rdev)};
    status.inode = static_cast<quint64>(info.st_ino);
    status.modified = static_cast<qint64>(info.st_mtim.tv_sec);
    return status;
}

// Deletes the entries of the open folder `dirFd` (taken over), depth first,
// without following links.
void DeleteTreeAt(int dirFd)
{
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat info;
        if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            const int childFd = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (childFd >= 0)
                DeleteTreeAt(childFd);
            ::unlinkat(::dirfd(dir), name, AT_REMOVEDIR);
        } else {
            ::unlinkat(::dirfd(dir), name, 0);
        }
    }
    ::closedir(dir);
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        Close();
        m_fd = other.release();
    }
    return *this;
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

int UniqueFd::Close()
{
    const int result = m_fd >= 0 ? ::close(m_fd) : 0;
    m_fd = -1;
    return result;
}

std::optional<FileStatus> StatusOfPath(const QString& path)
{
    struct stat info {};
    if (::stat(Native(path).constData(), &info) != 0)
        return std::nullopt;
    return ToStatus(info);
}

std::optional<FileStatus> StatusOfEntry(const QString& path)
{
    struct stat info {};
    if (::lstat(Native(path).constData(), &info) != 0)
        return std::nullopt;
    return ToStatus(info);
}

std::optional<FileStatus> StatusOf(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return ToStatus(info);
}

UniqueFd OpenForReading(const QString& path)
{
    return UniqueFd(::open(Native(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

UniqueFd OpenFolder(const QString& path, LastLink last)
{
    const int noFollow = last == LastLink::Refuse ? O_NOFOLLOW : 0;
    return UniqueFd(::open(Native(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow));
}

UniqueFd OpenFolderAt(int folder, const QString& name)
{
    return UniqueFd(::openat(folder, Native(name).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool MakeFolder(const QString& path, mode_t mode) { return ::mkdir(Native(path).constData(), mode) == 0; }

bool MakeFolderAt(int folder, const QString& name, mode_t mode)
{
    return ::mkdirat(folder, Native(name).constData(), mode) == 0;
}

QString DescriptorPath(int fd) { return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(fd); }

int DuplicateHigh(int fd, int lowest) { return ::fcntl(fd, F_DUPFD_CLOEXEC, lowest); }

bool KeepsOwnersAndModes(int fd)
{
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return true;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x4d44UL:      // FAT
    case 0x2011bab0UL:  // exFAT
    case 0x5346544eUL:  // NTFS
    case 0x7366746eUL:  // NTFS (ntfs3)
    case 0x65735546UL:  // FUSE
        return false;
    default:
        return true;
    }
}

QStringList FolderEntries(int folder)
{
    QStringList names;
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}

// AT_EACCESS: checked with the file-system identity, not the real user's.
bool MayCreateIn(int folder) { return ::faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) == 0; }

QString MakeUniqueFolder(const QString& parent, const QString& prefix)
{
    QByteArray pattern = Native(JoinPath(parent, prefix + QStringLiteral("XXXXXX")));
    if (!::mkdtemp(pattern.data()))
        return {};
    return QFile::decodeName(pattern);
}

UniqueFd CreateUnnamedFile(int folder, mode_t mode)
{
    return UniqueFd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
}

bool NameUnnamedFile(int file, int folder, const QString& name)
{
    const QByteArray native = Native(name);
    // Through /proc needs no privilege; AT_EMPTY_PATH (where /proc is missing) needs CAP_DAC_READ_SEARCH.
    const std::string proc = "/proc/self/fd/" + std::to_string(file);
    if (::linkat(AT_FDCWD, proc.c_str(), folder, native.constData(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    return errno == ENOENT && ::linkat(file, "", folder, native.constData(), AT_EMPTY_PATH) == 0;
}

UniqueFd CreateNewFileAt(int folder, const QString& name, mode_t mode)
{
    return UniqueFd(
        ::openat(folder, Native(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
}

bool RemoveFileAt(int folder, const QString& name) { return ::unlinkat(folder, Native(name).constData(), 0) == 0; }

bool ChangeMode(int fd, mode_t mode) { return ::fchmod(fd, mode) == 0; }

bool SyncFile(int fd) { return ::fsync(fd) == 0; }

bool SyncFileSystem(int fd) { return ::syncfs(fd) == 0; }

void StartWriteBack(int fd) { ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

bool MakePipe(int& readEnd, int& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    readEnd = fds[0];
    writeEnd = fds[1];
    return true;
}

void CloseDescriptor(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

ssize_t ReadSome(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }

ssize_t WriteSome(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
ssize_t KernelCopy(int in, int out, size_t size) { return ::copy_file_range(in, nullptr, out, nullptr, size, 0); }

void DeleteFolderTreeAt(int folder, const QString& name)
{
    const QByteArray native = Native(name);
    const int fd = ::openat(folder, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(folder, native.constData(), 0);  // a link or a file in its place goes, unfollowed
        return;
    }
    DeleteTreeAt(fd);
    ::unlinkat(folder, native.constData(), AT_REMOVEDIR);
}

void DeleteFolderTree(const QString& path, bool removeFolder)
{
    if (path.isEmpty())
        return;
    QString folder = path;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const QByteArray native = Native(folder);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A link given as the root is removed, not followed.
        struct stat info;
        if (removeFolder && ::lstat(native.constData(), &info) == 0 && S_ISLNK(info.st_mode))
            ::unlink(native.constData());
        return;
    }
    DeleteTreeAt(fd);
    if (removeFolder)
        ::rmdir(native.constData());
}

}  // namespace snapmend
