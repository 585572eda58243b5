#pragma once
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstddef>
#include <optional>
#include <sys/types.h>

// The file system as the rest of the program may touch it. Every call that
// can fail reports false, -1 or an invalid descriptor with errno saying why;
// nothing here follows a symbolic link unless its name says so.
namespace snapmend {

// A descriptor closed exactly once, whatever path leaves the scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    // 0, or -1 with errno: a delayed write error shows here.
    int Close();

private:
    int m_fd = -1;
};

enum class FileKind { Regular, Folder, Link, BlockDevice, Other };

struct DeviceNumber {
    unsigned major = 0;
    unsigned minor = 0;
    bool operator==(const DeviceNumber& o) const { return major == o.major && minor == o.minor; }
};

struct FileStatus {
    FileKind kind = FileKind::Other;
    uid_t owner = 0;
    unsigned permissions = 0;  // mode bits below the file type (07777)
    quint64 size = 0;
    DeviceNumber device;       // of the file system that holds it
    DeviceNumber deviceNode;   // what a block device node stands for
    quint64 inode = 0;
    qint64 modified = 0;       // last change of the contents, seconds since 1970
};

// stat: the path, links followed.
std::optional<FileStatus> StatusOfPath(const QString& path);
// lstat: the path itself, a link reported as a link.
std::optional<FileStatus> StatusOfEntry(const QString& path);
// fstat of an open descriptor.
std::optional<FileStatus> StatusOf(int fd);

// Opens a file for reading, never through a link and never waiting (a FIFO
// opens at once). Check its kind with StatusOf before reading.
UniqueFd OpenForReading(const QString& path);

enum class LastLink { Follow, Refuse };
// Opens a folder to work inside it; `last` says whether the path's last
// component may be a link (a folder the user chose) or not.
UniqueFd OpenFolder(const QString& path, LastLink last);
// A folder inside an open folder, never a link.
UniqueFd OpenFolderAt(int folder, const QString& name);

// mkdir with `mode`; false with errno EEXIST when something is there.
bool MakeFolder(const QString& path, mode_t mode);
// mkdirat: `name` inside the open `folder`; false with errno EEXIST when something is there.
bool MakeFolderAt(int folder, const QString& name, mode_t mode);
// A path that reaches the open `fd` itself, whatever is renamed or swapped
// along the path it was opened by: /proc/<this process>/fd/<fd>. Valid for
// this process and, as root, for the programs it starts, while `fd` stays open.
QString DescriptorPath(int fd);
// A copy of `fd` numbered at least `lowest` (close-on-exec), or -1: a number
// that ordinary opens, which take the lowest free one, do not reuse soon.
int DuplicateHigh(int fd, int lowest);
// False for a file system without owners and modes of its own (FAT, exFAT,
// NTFS, FUSE-mounted ones): there the mount decides who owns every file, and
// there are no links to follow.
bool KeepsOwnersAndModes(int fd);
// The names in the open `folder` (not "." and ".."), in the order it lists them.
QStringList FolderEntries(int folder);
// Whether the calling thread, with its file-system identity, may create
// entries in the open `folder`; false with errno (EACCES, EROFS) when not.
bool MayCreateIn(int folder);
// A fresh folder of mode 0700 named `prefix` plus six random characters,
// inside `parent` (mkdtemp): nobody can guess or pre-create it. Empty on failure.
QString MakeUniqueFolder(const QString& parent, const QString& prefix);

// A file without a name in `folder` (O_TMPFILE), to be named by NameUnnamedFile
// once complete. EOPNOTSUPP, EISDIR or EINVAL: the file system cannot do it.
UniqueFd CreateUnnamedFile(int folder, mode_t mode);
// Gives the unnamed `file` the name `name` in `folder`; EEXIST when taken.
bool NameUnnamedFile(int file, int folder, const QString& name);
// Creates `name` in `folder` exclusively (never replacing, never through a link).
UniqueFd CreateNewFileAt(int folder, const QString& name, mode_t mode);
bool RemoveFileAt(int folder, const QString& name);

bool ChangeMode(int fd, mode_t mode);
// The file's content and attributes are on the disk.
bool SyncFile(int fd);
// Everything written to the file system that holds `fd` is on the disk: one
// flush for many files. False when a write-back failed there since `fd` was
// opened (or, on old kernels, never).
bool SyncFileSystem(int fd);
// Asks the kernel to start writing the file's data to the disk now, without
// waiting; a later SyncFile then mostly finds it done. Best effort.
void StartWriteBack(int fd);

// A pipe whose read end never blocks; both ends close on exec (a child is
// handed its end explicitly).
bool MakePipe(int& readEnd, int& writeEnd);
// close(2) of a descriptor not held by a UniqueFd (one shared between threads).
void CloseDescriptor(int fd);

// read(2) and write(2): the count moved, 0 at the end, -1 with errno (EINTR included).
ssize_t ReadSome(int fd, void* buffer, size_t size);
ssize_t WriteSome(int fd, const void* data, size_t size);
// copy_file_range(2) from the descriptors' current positions: the kernel moves
// the bytes (sharing extents where it can); -1 with errno when it declines.
ssize_t KernelCopy(int in, int out, size_t size);

// Deletes `name` inside the open `folder` with everything below it, by
// descriptors only: no link is followed, a rename of an outer folder changes nothing.
void DeleteFolderTreeAt(int folder, const QString& name);

// Deletes everything below `path` and, with `removeFolder`, the folder itself.
// Symbolic links are removed, never followed. Failures are ignored: what
// cannot be deleted stays.
void DeleteFolderTree(const QString& path, bool removeFolder);

}  // namespace snapmend
