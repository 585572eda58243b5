#include "WorkspaceWalk.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "WorkspaceFile.h"

namespace snapmend {
namespace {

// Without links a walk cannot revisit a folder; the bound only guards against
// a bind mount of an ancestor placed inside the workspace.
constexpr int kMaxWalkDepth = 256;

unsigned char EntryType(DIR* dir, const dirent* entry)
{
    if (entry->d_type != DT_UNKNOWN)
        return entry->d_type;
    // File systems that do not fill d_type.
    struct stat info {};
    if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return DT_UNKNOWN;
    return S_ISDIR(info.st_mode) ? DT_DIR : (S_ISREG(info.st_mode) ? DT_REG : DT_LNK);
}

// Walks the folder open as `fd` (taken over and closed). Straight readdir: the
// walk runs on the UI thread for short listings.
void Walk(int fd, const QString& folder, QStringList& out, int depth)
{
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const unsigned char type = EntryType(dir, entry);
        if (type != DT_REG && (type != DT_DIR || std::strcmp(name, kEngineBookkeepingFolder) == 0))
            continue;
        const QString path = folder + QLatin1Char('/') + PathFromBytes(QByteArray(name));
        if (type == DT_REG) {
            out.append(path);
        } else if (depth < kMaxWalkDepth) {
            const int child = ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                Walk(child, path, out, depth + 1);
        }
    }
    ::closedir(dir);
}

}  // namespace

void CollectWorkspaceFiles(const QString& folder, QStringList& out)
{
    if (folder.isEmpty())
        return;
    QString root = folder;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    const int fd = ::open(BytesOfPath(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        Walk(fd, root == QLatin1String("/") ? QString() : root, out, 0);
}

QStringList UnlistedWorkspaceFiles(const QString& root, const QSet<QString>& listed)
{
    QStringList files;
    CollectWorkspaceFiles(root, files);
    files.removeIf([&listed](const QString& path) { return listed.contains(path); });
    return files;
}

QString WithUnlistedFilesKept(const QString& reportText, qsizetype count, const QString& root)
{
    if (count == 0)
        return reportText;
    const QString kept = QStringLiteral("%1 more files found by the scan could not be listed; they are kept in %2.\n\n")
                             .arg(count)
                             .arg(DisplayText(root));
    const qsizetype paragraph = reportText.indexOf(QStringLiteral("\n\n"));
    return paragraph < 0 ? reportText + QStringLiteral("\n\n") + kept.trimmed()
                         : QString(reportText).insert(paragraph + 2, kept);
}

}  // namespace snapmend
