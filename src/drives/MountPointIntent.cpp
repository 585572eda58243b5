#include "MountPointIntent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "MountInfo.h"
#include "Volumes.h"

namespace snapmend {
namespace {

bool Holds(const QString& mountPoint, const QString& path)
{
    return path == mountPoint || mountPoint == QLatin1String("/") || path.startsWith(mountPoint + QLatin1Char('/'));
}

// Where desktops and administrators mount disks by habit.
bool IsUsualMountPlace(const QString& path)
{
    static const QRegularExpression usual(
        QStringLiteral("^(/mnt/[^/]+|/media/[^/]+|/media/[^/]+/[^/]+|/run/media/[^/]+/[^/]+)$"));
    return usual.match(path).hasMatch();
}

QString ParentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The path with the links of its existing part resolved; the rest appended as it is.
QString ResolvedPath(const QString& folder)
{
    QString existing = QDir::cleanPath(QDir(folder).absolutePath());
    QString rest;
    while (!QFileInfo::exists(existing) && existing != QLatin1String("/")) {
        rest.prepend(QLatin1Char('/') + QFileInfo(existing).fileName());
        existing = ParentOf(existing);
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return QDir::cleanPath((canonical.isEmpty() ? existing : canonical) + rest);
}

bool EmptyOrMissing(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return true;
    return info.isDir() && !info.isSymLink() &&
           QDir(path).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

}  // namespace

QStringList ParseFstabMountPoints(const QByteArray& fstab)
{
    QStringList points;
    for (const QByteArray& line : fstab.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3 || fields[0].startsWith('#'))
            continue;
        const QString point = QDir::cleanPath(QFile::decodeName(UnescapeMountField(fields[1])));
        if (!point.startsWith(QLatin1Char('/')) || fields[2] == "swap")
            continue;
        points << point;
    }
    return points;
}

std::optional<QString> MeantMountPoint(const QString& folder, const QStringList& mounted,
                                       const QStringList& fstabPoints,
                                       const std::function<bool(const QString&)>& emptyOrMissing)
{
    QString holder = QStringLiteral("/");
    for (const QString& point : mounted) {
        if (Holds(point, folder) && point.size() > holder.size())
            holder = point;
    }
    for (QString path = folder; path != holder && Holds(holder, path); path = ParentOf(path)) {
        if ((fstabPoints.contains(path) || IsUsualMountPlace(path)) && emptyOrMissing(path))
            return path;
        if (path == QLatin1String("/"))
            break;
    }
    return std::nullopt;
}

std::optional<QString> UnmountedMountPointOf(const QString& folder, const QByteArray& fstab)
{
    if (folder.isEmpty())
        return std::nullopt;
    QStringList mounted;
    if (const std::optional<QByteArray> table = ReadMountTable()) {
        for (const MountEntry& entry : ParseMountInfo(*table))
            mounted << entry.mountPoint;
    }
    return MeantMountPoint(ResolvedPath(folder), mounted, ParseFstabMountPoints(fstab), EmptyOrMissing);
}

QString UnmountedMountPointQuestion(const QString& folder, const QString& mountPoint)
{
    return QStringLiteral("The output folder \"%1\" is in \"%2\", where a disk is meant to be mounted, but no disk "
                          "is mounted there now: the recovered files would be written to the system disk instead."
                          "\n\nDo you want to save them there anyway?")
        .arg(folder, mountPoint);
}

}  // namespace snapmend
