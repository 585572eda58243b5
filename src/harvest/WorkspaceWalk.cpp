#include "WorkspaceWalk.h"

#include <QDir>
#include <QFileInfo>

namespace snapmend {
namespace {

// Without links a walk cannot revisit a folder; the bound only guards against
// a bind mount of an ancestor placed inside the workspace.
constexpr int kMaxDepth = 256;

void Walk(const QString& folder, QStringList& out, int depth)
{
    if (depth > kMaxDepth)
        return;
    const QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        const QString path = entry.filePath();
        if (entry.isDir())
            Walk(path, out, depth + 1);
        else if (entry.isFile())
            out.append(path);
    }
}

}  // namespace

void CollectWorkspaceFiles(const QString& folder, QStringList& out)
{
    if (folder.isEmpty())
        return;
    Walk(folder, out, 0);
}

}  // namespace snapmend
