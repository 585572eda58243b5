#include "SameDisk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "DiskMapping.h"
#include "MountInfo.h"

namespace snapmend {
namespace {

// File systems with anonymous device numbers (btrfs, whose numbers differ
// even from its own mount table's) are found by the mount that holds `path`:
// the table names their device. tmpfs and the like name none.
QString MountedDeviceDir(const QString& path)
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    std::optional<MountEntry> holder;
    for (const MountEntry& entry : ParseMountInfo(file.read(4 << 20))) {
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
    return BlockDeviceDir(QStringLiteral("/sys"), *holder).value_or(QString());
}

// The sysfs folder of the whole disk under `device`; `path` lies on it.
std::optional<QString> WholeDiskDir(dev_t device, const QString& path)
{
    const QString dir =
        major(device) == 0
            ? MountedDeviceDir(path)
            : QFileInfo(QStringLiteral("/sys/dev/block/%1:%2").arg(major(device)).arg(minor(device))).canonicalFilePath();
    if (dir.isEmpty())
        return std::nullopt;
    const std::optional<DiskInfo> disk = MapVolumeToDisk(dir);
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

std::optional<struct stat> StatOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return info;
}

// True when the loop disk whose sysfs folder is `diskDir` reads the file `image`.
bool LoopReadsImage(const QString& diskDir, const struct stat& image)
{
    QFile backing(diskDir + QStringLiteral("/loop/backing_file"));
    if (!backing.open(QIODevice::ReadOnly))
        return false;
    const std::optional<struct stat> file = StatOf(QFile::decodeName(backing.readLine(4096).trimmed()));
    return file && file->st_dev == image.st_dev && file->st_ino == image.st_ino;
}

}  // namespace

std::optional<QString> FolderOnScannedDisk(const QString& scanSource, const QString& folder)
{
    if (scanSource.isEmpty() || folder.isEmpty())
        return std::nullopt;
    const std::optional<struct stat> source = StatOf(scanSource);
    const QString existing = NearestExisting(folder);
    const std::optional<struct stat> target = StatOf(existing);
    if (!source || !target)
        return std::nullopt;
    const std::optional<QString> targetDisk = WholeDiskDir(target->st_dev, existing);
    if (!targetDisk)
        return std::nullopt;
    const QString node = QStringLiteral("/dev/") + QFileInfo(*targetDisk).fileName();
    if (S_ISBLK(source->st_mode))
        return WholeDiskDir(source->st_rdev, scanSource) == targetDisk ? std::optional<QString>(node) : std::nullopt;
    // An image file is harmed only by writes into itself: a folder on a file
    // system that a loop disk reads from that very image. Elsewhere on the
    // disk that holds the image, its allocated blocks are safe.
    if (S_ISREG(source->st_mode) && LoopReadsImage(*targetDisk, *source))
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
