#include "DriveEnumeration.h"

#include "DiskDescription.h"

#include <QRegularExpression>
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

// Smaller devices are empty readers (0) or extended-partition stubs (2 sectors).
constexpr quint64 kMinSectors = 128;

// Kernel devices that hold no user data worth a scan.
bool IsSkippedKernelName(const QString& name)
{
    static const QRegularExpression skipped(QStringLiteral("^(z?ram\\d+|.*boot\\d+|.*rpmb)$"));
    return skipped.match(name).hasMatch();
}

bool HasHolders(const SysfsReader& sysfs, const QString& dir)
{
    return !sysfs.Entries(dir + QStringLiteral("/holders")).isEmpty();
}

// The scan reads the whole disk under the volume: its node, kind, names and size.
void DescribeDiskOfRow(DriveRecord& drive, const SysfsReader& sysfs, const UdevDatabase& udev, const DiskInfo& disk)
{
    const DiskDescription description =
        DescribeDisk(sysfs, udev, disk, drive.fileSystem.isEmpty() ? drive.partitionTable : drive.fileSystem);
    drive.physicalPath = disk.node;
    drive.engineDevice = disk.node;
    drive.typeText = description.kind;
    drive.model = description.model;
    drive.capacity = description.bytes != 0 ? description.bytes : drive.volumeSize;
}

}  // namespace

bool IsExcludedFileSystem(const QString& fsType)
{
    return ExcludedFileSystems().contains(fsType) || fsType.startsWith(QStringLiteral("fuse.")) ||
           fsType == QStringLiteral("fuse");
}

QString DriveNameFromMountPoint(const QString& mountPoint)
{
    QString name = mountPoint;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    return name;
}

std::vector<DriveRecord> BuildDriveRecords(const std::vector<MountEntry>& mounts, const SysfsReader& sysfs,
                                           const UdevDatabase& udev, const CapacityQuery& capacityOf)
{
    // The best mount of every block device, keyed by its sysfs folder.
    std::map<QString, MountEntry> byDevice;
    for (const MountEntry& mount : mounts) {
        if (IsExcludedFileSystem(mount.fsType))
            continue;
        const std::optional<QString> device = BlockDeviceDir(sysfs, mount);
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
        const std::optional<DiskInfo> disk = MapVolumeToDisk(sysfs, deviceDir);
        if (!disk)
            continue;
        DriveRecord drive;
        drive.name = DriveNameFromMountPoint(mount.mountPoint);
        drive.volumeSize = *capacity;
        drive.fileSystem = mount.fsType;
        drive.device = DeviceNodeOf(sysfs, deviceDir);
        DescribeDiskOfRow(drive, sysfs, udev, *disk);
        drives.push_back(drive);
    }
    std::sort(drives.begin(), drives.end(),
              [](const DriveRecord& a, const DriveRecord& b) { return a.name < b.name; });
    return drives;
}

}  // namespace snapmend

namespace snapmend {

QSet<QString> MountedDeviceDirs(const std::vector<MountEntry>& mounts, const SysfsReader& sysfs)
{
    QSet<QString> dirs;
    for (const MountEntry& mount : mounts) {
        if (const std::optional<QString> dir = BlockDeviceDir(sysfs, mount))
            dirs.insert(*dir);
    }
    return dirs;
}

std::vector<DriveRecord> BuildUnmountedRecords(const SysfsReader& sysfs, const UdevDatabase& udev,
                                               const QSet<QString>& mountedDirs, const VolumeProbe& probe)
{
    const QString blocks = sysfs.Path(QStringLiteral("dev/block"));
    QSet<QString> seen;
    std::vector<DriveRecord> drives;
    for (const QString& entry : sysfs.Entries(blocks)) {
        const QString dir = sysfs.Resolve(blocks + QLatin1Char('/') + entry);
        if (dir.isEmpty() || seen.contains(dir) || mountedDirs.contains(dir))
            continue;
        seen.insert(dir);
        const QString node = DeviceNodeOf(sysfs, dir);
        const quint64 sectors = sysfs.Read(dir + QStringLiteral("/size")).trimmed().toULongLong();
        if (sectors < kMinSectors || IsSkippedKernelName(node.mid(5)) || HasHolders(sysfs, dir))
            continue;
        const std::optional<DiskInfo> disk = MapVolumeToDisk(sysfs, dir);
        if (!disk)
            continue;
        const VolumeIdentity identity = probe(node);
        if (IsExcludedFileSystem(identity.type))
            continue;
        DriveRecord drive;
        drive.name = node;
        drive.device = node;
        drive.volumeSize = sectors * 512;  // sysfs counts 512-byte units whatever the sector size
        if (dir == disk->sysDir && IsPartitionTableType(identity.type))
            drive.partitionTable = identity.type;
        else
            drive.fileSystem = identity.type.isEmpty() ? QStringLiteral("unknown") : identity.type;
        drive.label = identity.label;
        drive.mounted = false;
        DescribeDiskOfRow(drive, sysfs, udev, *disk);
        drives.push_back(drive);
    }
    std::sort(drives.begin(), drives.end(), [](const DriveRecord& a, const DriveRecord& b) {
        // sdb before sdb1 before sdb2 before sdc; sdb10 after sdb9
        if (a.name.size() != b.name.size() && a.physicalPath == b.physicalPath)
            return a.name.size() < b.name.size();
        return a.physicalPath != b.physicalPath ? a.physicalPath < b.physicalPath : a.name < b.name;
    });
    return drives;
}

}  // namespace snapmend
