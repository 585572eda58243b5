#include "SafeCopy.h"

#include <cerrno>
#include <memory>

#include "FileSystem.h"
#include "Paths.h"
#include "PersonIdentity.h"
#include "TargetNames.h"
#include "WorkspaceFile.h"

namespace snapmend {
namespace {

constexpr size_t kCopyBlock = 1 << 20;
constexpr mode_t kTargetMode = 0600;
// Enough numbered names for any real folder; a bound so that a folder full of
// them cannot keep the copy looping.
constexpr int kMaxNumberedNames = 100000;

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = WriteSome(fd, data, size);
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
        const ssize_t moved = KernelCopy(in, out, kKernelCopyChunk);
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
        const ssize_t got = ReadSome(in, buffer.get(), kCopyBlock);
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

QString Candidate(const QString& fileName, int n) { return n == 1 ? fileName : NumberedFileName(fileName, n); }

// File systems without modes (FAT) refuse to change them; there the mount
// decides who may use the files.
bool Unsupported(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL; }

bool SetTargetMode(int fd, mode_t mode) { return ChangeMode(fd, mode) || Unsupported(errno); }

// Bytes, mode and a flush: the content is complete on the disk.
bool FillTarget(int in, int out) { return CopyBytes(in, out) && SetTargetMode(out, kTargetMode) && SyncFile(out); }

// Gives the complete unnamed `file` the first free name of `fileName`'s numbering.
CopyOutcome NameFirstFree(int file, int dir, const QString& folder, const QString& fileName)
{
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString name = Candidate(fileName, n);
        if (NameUnnamedFile(file, dir, name))
            return CopyOutcome{true, 0, JoinPath(folder, name)};
        if (errno != EEXIST)
            return CopyOutcome{false, errno, {}};
    }
    return CopyOutcome{false, EEXIST, {}};
}

// Unnamed file linked under the first free name once complete. Nothing when
// the file system has no O_TMPFILE.
std::optional<CopyOutcome> CopyUnnamed(int in, int dir, const QString& folder, const QString& fileName)
{
    UniqueFd out = CreateUnnamedFile(dir, kTargetMode);
    if (out.get() < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return std::nullopt;
        return CopyOutcome{false, errno, {}};
    }
    if (!FillTarget(in, out.get()))
        return CopyOutcome{false, errno, {}};
    return NameFirstFree(out.get(), dir, folder, fileName);
}

// File systems without O_TMPFILE (FAT): the first free name, created
// exclusively, removed again when the copy fails.
CopyOutcome CopyNamed(int in, int dir, const QString& folder, const QString& fileName)
{
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString name = Candidate(fileName, n);
        UniqueFd out = CreateNewFileAt(dir, name, kTargetMode);
        if (out.get() < 0) {
            if (errno == EEXIST)
                continue;
            return {false, errno, {}};
        }
        if (!FillTarget(in, out.get()) || out.Close() != 0) {
            const int error = errno;
            RemoveFileAt(dir, name);
            return {false, error, {}};
        }
        return {true, 0, JoinPath(folder, name)};
    }
    return {false, EEXIST, {}};
}

// The source opened for copying when it is a regular file and `fileName` a
// plain name; otherwise an invalid descriptor with errno set. The one place a
// source is opened: with the program's rights, before any switch to the person.
UniqueFd OpenSource(const QString& source, const QString& fileName, qint64* size = nullptr)
{
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')) || fileName == QLatin1String(".") ||
        fileName == QLatin1String("..")) {
        errno = EINVAL;
        return {};
    }
    UniqueFd in = OpenWorkspaceFile(source);
    if (!in.valid())
        return {};
    const std::optional<FileStatus> status = StatusOf(in.get());
    if (!status)
        return {};
    if (status->kind != FileKind::Regular) {
        errno = EINVAL;
        return {};
    }
    if (size)
        *size = static_cast<qint64>(status->size);
    return in;
}

QString WithoutTrailingSlashes(QString folder)
{
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

// `name` inside the open `parent`, made (mode 0700) when missing; never a link.
UniqueFd OpenOrMakeFolderAt(int parent, const QString& name, bool& made)
{
    made = false;
    UniqueFd folder = OpenFolderAt(parent, name);
    if (folder.valid() || errno != ENOENT)
        return folder;
    made = MakeFolderAt(parent, name, 0700);
    if (!made && errno != EEXIST)
        return {};
    return OpenFolderAt(parent, name);
}

// The parent of `folder`, "/" for a top-level folder, "." for a relative name.
QString ParentOf(const QString& folder)
{
    const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : folder.left(slash);
}

}  // namespace

bool EnsureOutputFolder(const QString& folder, const std::optional<Account>& person)
{
    if (folder.isEmpty())
        return false;
    const ActingAsPerson as(person);
    if (!as.ok())
        return false;
    const bool made = MakeFolder(folder, 0700);
    if (!made && errno != EEXIST)
        return false;
    const UniqueFd dir = OpenFolder(folder, LastLink::Follow);
    return dir.valid() && (!made || SetTargetMode(dir.get(), 0700));
}

bool PersonMayWriteFolder(const QString& folder, const std::optional<Account>& person)
{
    if (!person || folder.isEmpty())
        return true;
    const ActingAsPerson as(person);
    if (!as.ok())
        return false;
    const QString cleanFolder = WithoutTrailingSlashes(folder);
    UniqueFd dir = OpenFolder(cleanFolder, LastLink::Follow);
    if (!dir.valid() && errno == ENOENT)
        dir = OpenFolder(ParentOf(cleanFolder), LastLink::Follow);
    if (!dir.valid())
        return errno == ENOENT || errno == ENOTDIR;
    return MayCreateIn(dir.get());
}

CopyOutcome CopyToNewFile(const QString& source, const QString& folder, const QString& fileName,
                          const std::optional<Account>& person)
{
    const UniqueFd in = OpenSource(source, fileName);
    if (!in.valid())
        return {false, errno, {}};
    const ActingAsPerson as(person);
    if (!as.ok())
        return {false, errno, {}};
    const QString cleanFolder = WithoutTrailingSlashes(folder);
    // The folder the user chose may itself be a link; what lies in it is never followed.
    const UniqueFd dir = OpenFolder(cleanFolder, LastLink::Follow);
    if (!dir.valid())
        return {false, errno, {}};
    if (std::optional<CopyOutcome> unnamed = CopyUnnamed(in.get(), dir.get(), cleanFolder, fileName))
        return *unnamed;
    return CopyNamed(in.get(), dir.get(), cleanFolder, fileName);
}

CopyBatch::CopyBatch(QString folder, std::optional<Account> person)
    : m_folder(WithoutTrailingSlashes(std::move(folder))), m_person(std::move(person))
{
}

bool CopyBatch::OpenFolderOnce()
{
    if (m_folders.count(QString()) == 0 && m_dirError == 0) {
        // The folder the user chose may itself be a link; what lies in it is never followed.
        UniqueFd dir = OpenFolder(m_folder, LastLink::Follow);
        if (dir.valid())
            m_folders.emplace(QString(), Folder{std::move(dir), m_folder});
        else
            m_dirError = errno;
    }
    errno = m_dirError;
    return m_dirError == 0;
}

std::pair<QString, CopyBatch::Folder*> CopyBatch::Reach(const QStringList& subfolders)
{
    QString key;
    Folder* current = &m_folders.at(QString());
    for (const QString& name : subfolders) {
        const QString next = key.isEmpty() ? name : key + QLatin1Char('/') + name;
        auto found = m_folders.find(next);
        if (found == m_folders.end()) {
            bool made = false;
            UniqueFd fd = OpenOrMakeFolderAt(current->fd.get(), name, made);
            if (!fd.valid())
                break;  // a link, a file or no permission: the copy stays in the folder reached
            current->dirty = current->dirty || made;
            found = m_folders.emplace(next, Folder{std::move(fd), JoinPath(current->path, name)}).first;
        }
        key = next;
        current = &found->second;
    }
    return {key, current};
}

void CopyBatch::MarkDirty(const QString& key)
{
    // The folder and every folder above it: one made by another batch may not be on the disk yet.
    QString ancestor = key;
    for (;;) {
        m_folders.at(ancestor).dirty = true;
        if (ancestor.isEmpty())
            return;
        const qsizetype slash = ancestor.lastIndexOf(QLatin1Char('/'));
        ancestor = slash < 0 ? QString() : ancestor.left(slash);
    }
}

bool CopyBatch::FlushDirtyFolders()
{
    bool flushed = true;
    for (auto& [key, folder] : m_folders) {
        if (folder.dirty)
            flushed = SyncFile(folder.fd.get()) && flushed;
        folder.dirty = false;
    }
    return flushed;
}

std::optional<CopyOutcome> CopyBatch::Add(int tag, const QString& source, const QString& fileName,
                                          const QStringList& subfolders)
{
    qint64 size = 0;
    const UniqueFd in = OpenSource(source, fileName, &size);
    if (!in.valid())
        return CopyOutcome{false, errno, {}};
    const ActingAsPerson as(m_person);
    if (!as.ok())
        return CopyOutcome{false, errno, {}};
    return AddAsPerson(tag, in.get(), size, fileName, subfolders);
}

std::optional<CopyOutcome> CopyBatch::AddAsPerson(int tag, int in, qint64 size, const QString& fileName,
                                                  const QStringList& subfolders)
{
    if (!OpenFolderOnce())
        return CopyOutcome{false, errno, {}};
    const auto [key, folder] = Reach(subfolders);
    if (m_unnamedUnsupported)
        return CopyNamed(in, folder->fd.get(), folder->path, fileName);
    UniqueFd out = CreateUnnamedFile(folder->fd.get(), kTargetMode);
    if (!out.valid()) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return CopyOutcome{false, errno, {}};
        m_unnamedUnsupported = true;
        return CopyNamed(in, folder->fd.get(), folder->path, fileName);
    }
    if (!CopyBytes(in, out.get()) || !SetTargetMode(out.get(), kTargetMode))
        return CopyOutcome{false, errno, {}};  // the unnamed file goes with its descriptor
    StartWriteBack(out.get());
    m_pending.push_back(Pending{tag, fileName, key, std::move(out)});
    m_bytes += size;
    return std::nullopt;
}

std::vector<std::pair<int, CopyOutcome>> CopyBatch::Commit()
{
    const ActingAsPerson as(m_person);
    std::vector<std::pair<int, CopyOutcome>> outcomes;
    outcomes.reserve(m_pending.size());
    if (!as.ok()) {
        for (const Pending& copy : m_pending)
            outcomes.emplace_back(copy.tag, CopyOutcome{false, EPERM, {}});
    }
    // Contents first, with one flush of the file system for the whole batch: a
    // flush per file costs the disk a cache flush each. Where that reports a
    // failure, each copy's own flush tells which ones are whole.
    const bool allSynced = as.ok() && !m_pending.empty() && SyncFileSystem(m_folders.at(QString()).fd.get());
    for (size_t i = 0; as.ok() && i < m_pending.size(); ++i) {
        Pending& copy = m_pending[i];
        const bool synced = allSynced || SyncFile(copy.file.get());
        outcomes.emplace_back(copy.tag, synced ? CopyOutcome{true, 0, {}} : CopyOutcome{false, errno, {}});
        if (!synced)
            continue;
        const Folder& folder = m_folders.at(copy.folderKey);
        outcomes[i].second = NameFirstFree(copy.file.get(), folder.fd.get(), folder.path, copy.fileName);
        if (outcomes[i].second.ok)
            MarkDirty(copy.folderKey);
    }
    // The names last: until their folders are on the disk they could be lost
    // with a crash, so they count as copied only then. Where that fails they
    // are taken back, and the copies count as failed.
    if (!FlushDirtyFolders()) {
        const int error = errno;
        for (size_t i = 0; i < outcomes.size(); ++i) {
            CopyOutcome& outcome = outcomes[i].second;
            if (!outcome.ok)
                continue;
            RemoveFileAt(m_folders.at(m_pending[i].folderKey).fd.get(), outcome.target.section(QLatin1Char('/'), -1));
            outcome = CopyOutcome{false, error, {}};
        }
    }
    m_pending.clear();  // closing the descriptors: an unnamed file that failed is gone
    m_bytes = 0;
    // The next batch opens the folders again: one removed and made anew meanwhile is the one named.
    m_folders.clear();
    m_dirError = 0;
    return outcomes;
}

}  // namespace snapmend
