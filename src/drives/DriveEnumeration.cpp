#include "DriveEnumeration.h"

#include <QSet>
#include <algorithm>
#include <map>

namespace snapmend {

namespace {

const QSet<QString>& ExcludedFileSystems()
{
    static const QSet<QString> types = {
        // read-only images
        QStringLiteral("squashfs"), QStringLiteral("erofs"), QStringLiteral("cramfs"), QStringLiteral("romfs"),
        // network
        QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"), QStringLiteral("smb3"),
        QStringLiteral("smbfs"), QStringLiteral("ncpfs"), QStringLiteral("afs"), QStringLiteral("ceph"),
        QStringLiteral("glusterfs"), QStringLiteral("9p"), QStringLiteral("lustre"), QStringLiteral("davfs"),
        QStringLiteral("fuse.sshfs"),
        // pseudo and memory
        QStringLiteral("proc"), QStringLiteral("sysfs"), QStringLiteral("devtmpfs"), QStringLiteral("tmpfs"),
        QStringLiteral("ramfs"), QStringLiteral("devpts"), QStringLiteral("cgroup"), QStringLiteral("cgroup2"),
        QStringLiteral("overlay"), QStringLiteral("autofs"), QStringLiteral("debugfs"), QStringLiteral("tracefs"),
        QStringLiteral("securityfs"), QStringLiteral("pstore"), QStringLiteral("bpf"), QStringLiteral("mqueue"),
        QStringLiteral("hugetlbfs"), QStringLiteral("configfs"), QStringLiteral("fusectl"),
        QStringLiteral("binfmt_misc"), QStringLiteral("efivarfs"), QStringLiteral("nsfs"),
    };
    return types;
}

// Lower is better: mounts of the file system's root first, then the shortest mount point.
bool BetterMount(const MountEntry& a, const MountEntry& b)
{
    const bool aRoot = a.root == QStringLiteral("/");
    const bool bRoot = b.root == QStringLiteral("/");
    if (aRoot != bRoot)
        return aRoot;
    if (a.mountPoint.size() != b.mountPoint.size())
        return a.mountPoint.size() < b.mountPoint.size();
    return a.mountPoint < b.mountPoint;
}

}  // namespace

bool IsExcludedFileSystem(const QString& fsType)
{
    return ExcludedFileSystems().contains(fsType) || fsType.startsWith(QStringLiteral("fuse.")) ||
           fsType == QStringLiteral("fuse");
}

QString DriveTypeText(const DiskInfo& disk, const QString& fsType)
{
    if (disk.name.startsWith(QStringLiteral("sr")) || fsType == QStringLiteral("iso9660") ||
        fsType == QStringLiteral("udf"))
        return QStringLiteral("Compact Disc");
    if (disk.name.startsWith(QStringLiteral("nbd")) || disk.name.startsWith(QStringLiteral("rbd")))
        return QStringLiteral("Network Drive");
    if (disk.name.startsWith(QStringLiteral("zram")) || disk.name.startsWith(QStringLiteral("ram")))
        return QString();  // RAM disk: no kind of its own
    if (disk.removable)
        return QStringLiteral("Removable Disk");
    return QStringLiteral("Local Disk");
}

QString DriveNameFromMountPoint(const QString& mountPoint)
{
    QString name = mountPoint;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    return name;
}

std::vector<DriveRecord> BuildDriveRecords(const std::vector<MountEntry>& mounts, const QString& sysRoot,
                                           const CapacityQuery& capacityOf)
{
    // The best mount of every block device, keyed by its sysfs folder.
    std::map<QString, MountEntry> byDevice;
    for (const MountEntry& mount : mounts) {
        if (IsExcludedFileSystem(mount.fsType))
            continue;
        const std::optional<QString> device = BlockDeviceDir(sysRoot, mount);
        if (!device)
            continue;
        auto it = byDevice.find(*device);
        if (it == byDevice.end())
            byDevice.emplace(*device, mount);
        else if (BetterMount(mount, it->second))
            it->second = mount;
    }

    std::vector<DriveRecord> drives;
    for (const auto& [deviceDir, mount] : byDevice) {
        const std::optional<quint64> capacity = capacityOf(mount.mountPoint);
        if (!capacity)
            continue;  // no medium, or not reachable
        const std::optional<DiskInfo> disk = MapVolumeToDisk(deviceDir);
        if (!disk)
            continue;
        DriveRecord drive;
        drive.name = DriveNameFromMountPoint(mount.mountPoint);
        drive.physicalPath = disk->node;
        drive.capacity = *capacity;
        drive.fileSystem = mount.fsType;
        drive.typeText = DriveTypeText(*disk, mount.fsType);
        drive.engineDevice = disk->node;
        drives.push_back(drive);
    }
    std::sort(drives.begin(), drives.end(),
              [](const DriveRecord& a, const DriveRecord& b) { return a.name < b.name; });
    return drives;
}

}  // namespace snapmend
