#include "DiskMapping.h"

#include "MountInfo.h"

#include <QFile>

namespace snapmend {

namespace {

// Stacks deeper than this are taken for a loop in a broken tree.
constexpr int kMaxStackDepth = 16;

QString LastComponent(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

QString ParentOf(const QString& path) { return path.left(qMax(path.lastIndexOf(QLatin1Char('/')), 1)); }

// The node name: DEVNAME from uevent, else the folder name ('!' stands for '/').
QString DeviceName(const SysfsReader& sysfs, const QString& dir)
{
    for (const QByteArray& line : sysfs.Read(dir + QStringLiteral("/uevent")).split('\n')) {
        if (line.startsWith("DEVNAME="))
            return QFile::decodeName(line.mid(8).trimmed());
    }
    return LastComponent(dir).replace(QLatin1Char('!'), QLatin1Char('/'));
}

std::optional<QString> WholeDiskDir(const SysfsReader& sysfs, QString dir, int depth)
{
    if (depth > kMaxStackDepth || dir.isEmpty())
        return std::nullopt;
    if (sysfs.Exists(dir + QStringLiteral("/partition")))
        dir = ParentOf(dir);

    const QStringList slaves = sysfs.Entries(dir + QStringLiteral("/slaves"));
    const bool stacked = !slaves.isEmpty() || sysfs.Exists(dir + QStringLiteral("/dm")) ||
                         sysfs.Exists(dir + QStringLiteral("/md"));
    if (!stacked)
        return dir;

    std::optional<QString> disk;
    for (const QString& slave : slaves) {
        const std::optional<QString> under =
            WholeDiskDir(sysfs, sysfs.Resolve(dir + QStringLiteral("/slaves/") + slave), depth + 1);
        if (!under || (disk && *disk != *under))
            return std::nullopt;
        disk = under;
    }
    return disk;  // nothing when a stacked volume has no slaves at all
}

}  // namespace

std::optional<QString> BlockDeviceDir(const SysfsReader& sysfs, const MountEntry& entry)
{
    if (entry.major != 0) {
        const QString dir = sysfs.Resolve(sysfs.Path(QStringLiteral("dev/block/%1:%2").arg(entry.major).arg(entry.minor)));
        if (!dir.isEmpty())
            return dir;
    }
    // File systems with anonymous device numbers (btrfs) still name their device.
    if (!entry.source.startsWith(QStringLiteral("/dev/")))
        return std::nullopt;
    const QString devName = entry.source.mid(5);
    if (devName.startsWith(QStringLiteral("mapper/"))) {
        const QString mapped = devName.mid(7);
        const QString blocks = sysfs.Path(QStringLiteral("class/block"));
        for (const QString& name : sysfs.Entries(blocks)) {
            const QString dir = blocks + QLatin1Char('/') + name;
            if (QString::fromUtf8(sysfs.Read(dir + QStringLiteral("/dm/name")).trimmed()) == mapped)
                return sysfs.Resolve(dir);
        }
        return std::nullopt;
    }
    QString sysName = devName;
    sysName.replace(QLatin1Char('/'), QLatin1Char('!'));
    const QString dir = sysfs.Resolve(sysfs.Path(QStringLiteral("class/block/") + sysName));
    if (dir.isEmpty())
        return std::nullopt;
    return dir;
}

QString DeviceNodeOf(const SysfsReader& sysfs, const QString& deviceDir)
{
    return QStringLiteral("/dev/") + DeviceName(sysfs, deviceDir);
}

std::optional<DiskInfo> MapVolumeToDisk(const SysfsReader& sysfs, const QString& deviceDir)
{
    const std::optional<QString> dir = WholeDiskDir(sysfs, deviceDir, 0);
    if (!dir)
        return std::nullopt;
    DiskInfo disk;
    disk.sysDir = *dir;
    disk.name = DeviceName(sysfs, *dir);
    disk.node = QStringLiteral("/dev/") + disk.name;
    disk.removable = sysfs.Read(*dir + QStringLiteral("/removable")).trimmed() == "1";
    return disk;
}

}  // namespace snapmend
