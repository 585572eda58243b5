#include "SameDisk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "DiskMapping.h"
#include "FileSystem.h"
#include "MountInfo.h"
#include "Sysfs.h"
#include "Volumes.h"

namespace snapmend {
namespace {

// File systems with anonymous device numbers (btrfs, whose numbers differ
// even from its own mount table's) are found by the mount that holds `path`:
// the table names their device. tmpfs and the like name none.
QString MountedDeviceDir(const SysfsReader& sysfs, const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const std::optional<QByteArray> table = ReadMountTable();
    if (canonical.isEmpty() || !table)
        return {};
    std::optional<MountEntry> holder;
    for (const MountEntry& entry : ParseMountInfo(*table)) {
        const QString& point = entry.mountPoint;
        const bool holds = canonical == point || point == QLatin1String("/") ||
                           canonical.startsWith(point + QLatin1Char('/'));
        // Later mounts cover earlier ones at the same place.
        if (holds && (!holder || point.size() >= holder->mountPoint.size()))
            holder = entry;
    }
    if (!holder)
        return {};
    holder->major = 0;  // by its source: the number is anonymous
    return BlockDeviceDir(sysfs, *holder).value_or(QString());
}

// The sysfs folder of the whole disk under `device`; `path` lies on it.
std::optional<QString> WholeDiskDir(const SysfsReader& sysfs, DeviceNumber device, const QString& path)
{
    const QString dir = device.major == 0
                            ? MountedDeviceDir(sysfs, path)
                            : sysfs.Resolve(sysfs.Path(QStringLiteral("dev/block/%1:%2").arg(device.major).arg(device.minor)));
    if (dir.isEmpty())
        return std::nullopt;
    const std::optional<DiskInfo> disk = MapVolumeToDisk(sysfs, dir);
    if (!disk)
        return std::nullopt;
    return disk->sysDir;
}

QString NearestExisting(const QString& folder)
{
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo::exists(path) && path != QLatin1String("/"))
        path = QFileInfo(path).path();
    return path;
}

// True when the loop disk whose sysfs folder is `diskDir` reads the file `image`.
bool LoopReadsImage(const SysfsReader& sysfs, const QString& diskDir, const FileStatus& image)
{
    const QByteArray backing = sysfs.Read(diskDir + QStringLiteral("/loop/backing_file"));
    if (backing.isEmpty())
        return false;
    const std::optional<FileStatus> file = StatusOfPath(QFile::decodeName(backing.split('\n').front().trimmed()));
    return file && file->device == image.device && file->inode == image.inode;
}

}  // namespace

std::optional<QString> FolderOnScannedDisk(const QString& scanSource, const QString& folder)
{
    if (scanSource.isEmpty() || folder.isEmpty())
        return std::nullopt;
    const SysfsReader sysfs;
    const std::optional<FileStatus> source = StatusOfPath(scanSource);
    const QString existing = NearestExisting(folder);
    const std::optional<FileStatus> target = StatusOfPath(existing);
    if (!source || !target)
        return std::nullopt;
    const std::optional<QString> targetDisk = WholeDiskDir(sysfs, target->device, existing);
    if (!targetDisk)
        return std::nullopt;
    const QString node = QStringLiteral("/dev/") + QFileInfo(*targetDisk).fileName();
    if (source->kind == FileKind::BlockDevice)
        return WholeDiskDir(sysfs, source->deviceNode, scanSource) == targetDisk ? std::optional<QString>(node)
                                                                                 : std::nullopt;
    // An image file is harmed only by writes into itself: a folder on a file
    // system that a loop disk reads from that very image. Elsewhere on the
    // disk that holds the image, its allocated blocks are safe.
    if (source->kind == FileKind::Regular && LoopReadsImage(sysfs, *targetDisk, *source))
        return node;
    return std::nullopt;
}

QString FolderOnScannedDiskMessage(const QString& folder, const QString& disk)
{
    return QStringLiteral("The output folder \"%1\" is on the disk being scanned (%2). Recovered files written "
                          "there would overwrite the deleted files that are still to be found.\n\nPlease choose a "
                          "folder on another disk.")
        .arg(folder, disk);
}

}  // namespace snapmend
