#include "DiskMapping.h"

#include "MountInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace snapmend {

namespace {

// Stacks deeper than this are taken for a loop in a broken tree.
constexpr int kMaxStackDepth = 16;

QByteArray ReadSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

QString Canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();  // empty when it does not exist
}

// The node name: DEVNAME from uevent, else the folder name ('!' stands for '/').
QString DeviceName(const QString& dir)
{
    for (const QByteArray& line : ReadSmallFile(dir + QStringLiteral("/uevent")).split('\n')) {
        if (line.startsWith("DEVNAME="))
            return QFile::decodeName(line.mid(8).trimmed());
    }
    return QFileInfo(dir).fileName().replace(QLatin1Char('!'), QLatin1Char('/'));
}

std::optional<QString> WholeDiskDir(QString dir, int depth)
{
    if (depth > kMaxStackDepth || dir.isEmpty())
        return std::nullopt;
    if (QFileInfo::exists(dir + QStringLiteral("/partition")))
        dir = QFileInfo(dir).path();

    const QStringList slaves =
        QDir(dir + QStringLiteral("/slaves")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    const bool stacked = !slaves.isEmpty() || QFileInfo::exists(dir + QStringLiteral("/dm")) ||
                         QFileInfo::exists(dir + QStringLiteral("/md"));
    if (!stacked)
        return dir;

    std::optional<QString> disk;
    for (const QString& slave : slaves) {
        const std::optional<QString> under =
            WholeDiskDir(Canonical(dir + QStringLiteral("/slaves/") + slave), depth + 1);
        if (!under || (disk && *disk != *under))
            return std::nullopt;
        disk = under;
    }
    return disk;  // nothing when a stacked volume has no slaves at all
}

}  // namespace

std::optional<QString> BlockDeviceDir(const QString& sysRoot, const MountEntry& entry)
{
    if (entry.major != 0) {
        const QString dir = Canonical(sysRoot + QStringLiteral("/dev/block/%1:%2").arg(entry.major).arg(entry.minor));
        if (!dir.isEmpty())
            return dir;
    }
    // File systems with anonymous device numbers (btrfs) still name their device.
    if (!entry.source.startsWith(QStringLiteral("/dev/")))
        return std::nullopt;
    const QString devName = entry.source.mid(5);
    if (devName.startsWith(QStringLiteral("mapper/"))) {
        const QString mapped = devName.mid(7);
        const QDir blocks(sysRoot + QStringLiteral("/class/block"));
        for (const QString& name : blocks.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
            const QString dir = blocks.filePath(name);
            if (QString::fromUtf8(ReadSmallFile(dir + QStringLiteral("/dm/name")).trimmed()) == mapped)
                return Canonical(dir);
        }
        return std::nullopt;
    }
    QString sysName = devName;
    sysName.replace(QLatin1Char('/'), QLatin1Char('!'));
    const QString dir = Canonical(sysRoot + QStringLiteral("/class/block/") + sysName);
    if (dir.isEmpty())
        return std::nullopt;
    return dir;
}

QString DeviceNodeOf(const QString& deviceDir)
{
    return QStringLiteral("/dev/") + DeviceName(deviceDir);
}

std::optional<DiskInfo> MapVolumeToDisk(const QString& deviceDir)
{
    const std::optional<QString> dir = WholeDiskDir(deviceDir, 0);
    if (!dir)
        return std::nullopt;
    DiskInfo disk;
    disk.sysDir = *dir;
    disk.name = DeviceName(*dir);
    disk.node = QStringLiteral("/dev/") + disk.name;
    disk.removable = ReadSmallFile(*dir + QStringLiteral("/removable")).trimmed() == "1";
    return disk;
}

}  // namespace snapmend
