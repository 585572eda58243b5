#include "DiskImage.h"

#include "FileSystem.h"

namespace snapmend {

QString DiskImageProblem(const QString& path)
{
    const QString prefix = QStringLiteral("The chosen file cannot be scanned: ");
    if (path.contains(QLatin1Char('"')))
        return prefix + QStringLiteral("its name contains a double quote.");
    const std::optional<FileStatus> status = StatusOfPath(path);
    if (!status)
        return prefix + QStringLiteral("it cannot be found.");
    // A pipe or a character device would leave the engine waiting forever.
    if (status->kind != FileKind::Regular && status->kind != FileKind::BlockDevice)
        return prefix + QStringLiteral("it is not a disk image file.");
    if (status->kind == FileKind::Regular && status->size < 512)
        return prefix + QStringLiteral("it is empty.");
    return {};
}

}  // namespace snapmend
