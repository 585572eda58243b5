#include "DriveSource.h"

#include <QFile>

#include "DevicePresence.h"
#include "DriveEnumeration.h"
#include "MountInfo.h"

namespace snapmend {

QByteArray DriveSource::FileSystemTable()
{
    // A few lines; anything far larger is not a file system table.
    constexpr qint64 kMaxTableBytes = 1024 * 1024;
    QFile file(QStringLiteral("/etc/fstab"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kMaxTableBytes);
}

LinuxDriveSource::LinuxDriveSource(QString mountInfoPath, SysfsReader sysfs, VolumeProbe probe, UdevDatabase udev)
    : m_strMountInfoPath(std::move(mountInfoPath)),
      m_sysfs(std::move(sysfs)),
      m_probe(std::move(probe)),
      m_udev(std::move(udev))
{
}

std::vector<DriveRecord> LinuxDriveSource::ListDrives()
{
    const std::optional<QByteArray> table = ReadMountTable(m_strMountInfoPath);
    if (!table)
        return {};
    const std::vector<MountEntry> mounts = ParseMountInfo(*table);
    std::vector<DriveRecord> drives = BuildDriveRecords(mounts, m_sysfs, m_udev, QueryCapacity);
    for (DriveRecord& drive : drives)
        drive.label = m_probe(drive.device).label;
    for (DriveRecord& drive : BuildUnmountedRecords(m_sysfs, m_udev, MountedDeviceDirs(mounts, m_sysfs), m_probe))
        drives.push_back(std::move(drive));
    return drives;
}

bool LinuxDriveSource::StillAttached(const DriveRecord& drive)
{
    return DevicePresence(drive.engineDevice, m_sysfs).StillThere();
}

}  // namespace snapmend
