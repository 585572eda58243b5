#include "SafeCopy.h"

#include <cerrno>
#include <memory>

#include "FileSystem.h"
#include "Paths.h"
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

// File systems without owners and modes (FAT) refuse to change them; there
// the mount decides who may use the files.
bool Unsupported(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL; }

bool HandOver(int fd, const std::optional<Account>& owner, mode_t mode)
{
    if (owner && !ChangeOwner(fd, owner->uid, owner->gid) && !Unsupported(errno))
        return false;
    return ChangeMode(fd, mode) || Unsupported(errno);
}

// Bytes, owner, mode and a flush: the content is complete on the disk.
bool FillTarget(int in, int out, const std::optional<Account>& owner)
{
    return CopyBytes(in, out) && HandOver(out, owner, kTargetMode) && SyncFile(out);
}

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
std::optional<CopyOutcome> CopyUnnamed(int in, int dir, const QString& folder, const QString& fileName,
                                       const std::optional<Account>& owner)
{
    UniqueFd out = CreateUnnamedFile(dir, kTargetMode);
    if (out.get() < 0) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return std::nullopt;
        return CopyOutcome{false, errno, {}};
    }
    if (!FillTarget(in, out.get(), owner))
        return CopyOutcome{false, errno, {}};
    return NameFirstFree(out.get(), dir, folder, fileName);
}

// File systems without O_TMPFILE (FAT): the first free name, created
// exclusively, removed again when the copy fails.
CopyOutcome CopyNamed(int in, int dir, const QString& folder, const QString& fileName,
                      const std::optional<Account>& owner)
{
    for (int n = 1; n <= kMaxNumberedNames; ++n) {
        const QString name = Candidate(fileName, n);
        UniqueFd out = CreateNewFileAt(dir, name, kTargetMode);
        if (out.get() < 0) {
            if (errno == EEXIST)
                continue;
            return {false, errno, {}};
        }
        if (!FillTarget(in, out.get(), owner) || out.Close() != 0) {
            const int error = errno;
            RemoveFileAt(dir, name);
            return {false, error, {}};
        }
        return {true, 0, JoinPath(folder, name)};
    }
    return {false, EEXIST, {}};
}

// The source opened for copying when it is a regular file and `fileName` a
// plain name; otherwise an invalid descriptor with errno set.
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

}  // namespace

bool EnsureOutputFolder(const QString& folder, const std::optional<Account>& owner)
{
    if (folder.isEmpty())
        return false;
    const bool made = MakeFolder(folder, 0700);
    if (!made && errno != EEXIST)
        return false;
    // A folder made here is handed over only as itself: if it was swapped for
    // a link meanwhile, the link's target is not given away.
    const UniqueFd dir = OpenFolder(folder, made ? LastLink::Refuse : LastLink::Follow);
    if (dir.get() < 0)
        return false;
    return !made || HandOver(dir.get(), owner, 0700);
}

CopyOutcome CopyToNewFile(const QString& source, const QString& folder, const QString& fileName,
                          const std::optional<Account>& owner)
{
    const UniqueFd in = OpenSource(source, fileName);
    if (!in.valid())
        return {false, errno, {}};
    const QString cleanFolder = WithoutTrailingSlashes(folder);
    // The folder the user chose may itself be a link; what lies in it is never followed.
    const UniqueFd dir = OpenFolder(cleanFolder, LastLink::Follow);
    if (!dir.valid())
        return {false, errno, {}};
    if (std::optional<CopyOutcome> unnamed = CopyUnnamed(in.get(), dir.get(), cleanFolder, fileName, owner))
        return *unnamed;
    return CopyNamed(in.get(), dir.get(), cleanFolder, fileName, owner);
}

CopyBatch::CopyBatch(QString folder, std::optional<Account> owner)
    : m_folder(WithoutTrailingSlashes(std::move(folder))), m_owner(std::move(owner))
{
}

bool CopyBatch::OpenFolderOnce()
{
    if (!m_dir.valid() && m_dirError == 0) {
        m_dir = OpenFolder(m_folder, LastLink::Follow);
        if (!m_dir.valid())
            m_dirError = errno;
    }
    errno = m_dirError;
    return m_dir.valid();
}

std::optional<CopyOutcome> CopyBatch::Add(int tag, const QString& source, const QString& fileName)
{
    qint64 size = 0;
    const UniqueFd in = OpenSource(source, fileName, &size);
    if (!in.valid())
        return CopyOutcome{false, errno, {}};
    if (!OpenFolderOnce())
        return CopyOutcome{false, errno, {}};
    if (m_unnamedUnsupported)
        return CopyNamed(in.get(), m_dir.get(), m_folder, fileName, m_owner);
    UniqueFd out = CreateUnnamedFile(m_dir.get(), kTargetMode);
    if (!out.valid()) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return CopyOutcome{false, errno, {}};
        m_unnamedUnsupported = true;
        return CopyNamed(in.get(), m_dir.get(), m_folder, fileName, m_owner);
    }
    if (!CopyBytes(in.get(), out.get()) || !HandOver(out.get(), m_owner, kTargetMode))
        return CopyOutcome{false, errno, {}};  // the unnamed file goes with its descriptor
    StartWriteBack(out.get());
    m_pending.push_back(Pending{tag, fileName, std::move(out)});
    m_bytes += size;
    return std::nullopt;
}

std::vector<std::pair<int, CopyOutcome>> CopyBatch::Commit()
{
    std::vector<std::pair<int, CopyOutcome>> outcomes;
    outcomes.reserve(m_pending.size());
    // Contents first, with one flush of the file system for the whole batch: a
    // flush per file costs the disk a cache flush each. Where that reports a
    // failure, each copy's own flush tells which ones are whole.
    const bool allSynced = !m_pending.empty() && SyncFileSystem(m_dir.get());
    for (Pending& copy : m_pending) {
        const bool synced = allSynced || SyncFile(copy.file.get());
        outcomes.emplace_back(copy.tag, synced ? CopyOutcome{true, 0, {}} : CopyOutcome{false, errno, {}});
    }
    bool anyNamed = false;
    for (size_t i = 0; i < m_pending.size(); ++i) {
        if (outcomes[i].second.ok)
            outcomes[i].second = NameFirstFree(m_pending[i].file.get(), m_dir.get(), m_folder, m_pending[i].fileName);
        anyNamed = anyNamed || outcomes[i].second.ok;
    }
    // The names last: until the folder is on the disk they could be lost with
    // a crash, so they count as copied only then. Where that fails they are
    // taken back, and the copies count as failed.
    if (anyNamed && !SyncFile(m_dir.get())) {
        const int error = errno;
        for (auto& [tag, outcome] : outcomes) {
            if (!outcome.ok)
                continue;
            RemoveFileAt(m_dir.get(), outcome.target.section(QLatin1Char('/'), -1));
            outcome = CopyOutcome{false, error, {}};
        }
    }
    m_pending.clear();  // closing the descriptors: an unnamed file that failed is gone
    m_bytes = 0;
    // The next batch opens the folder again: one removed and made anew meanwhile is the one named.
    m_dir = UniqueFd();
    m_dirError = 0;
    return outcomes;
}

}  // namespace snapmend
