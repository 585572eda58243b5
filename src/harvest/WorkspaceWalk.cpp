#include "WorkspaceWalk.h"

#include <QFile>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapmend {
namespace {

// Without links a walk cannot revisit a folder; the bound only guards against
// a bind mount of an ancestor placed inside the workspace.
constexpr int kMaxDepth = 256;

// Walks the folder open as `fd` (taken over and closed). Each sub-folder is
// opened relative to its parent without following links, so a folder swapped
// for a link meanwhile is not entered. Straight readdir: the walk runs on the
// UI thread for every pass, over tens of thousands of files.
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
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {  // file systems that do not fill d_type
            struct stat info {};
            if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : (S_ISREG(info.st_mode) ? DT_REG : DT_LNK);
        }
        const QString path = folder + QLatin1Char('/') + QFile::decodeName(name);
        if (type == DT_REG) {
            out.append(path);
        } else if (type == DT_DIR && depth < kMaxDepth) {
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
    const int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        Walk(fd, root == QLatin1String("/") ? QString() : root, out, 0);
}

}  // namespace snapmend
