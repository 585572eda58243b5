#pragma once
#include "DriveRecord.h"
#include "Sysfs.h"
#include "UdevDatabase.h"
#include "Volumes.h"

#include <QString>
#include <functional>
#include <vector>

namespace snapmend {

// The drives that can be scanned, as the operating system reports them now.
class DriveSource {
public:
    virtual ~DriveSource() = default;
    // Blocks while the system is queried; sorted by name.
    virtual std::vector<DriveRecord> ListDrives() = 0;
    // Whether the disk of a listed drive is still attached; a source that
    // cannot tell says it is.
    virtual bool StillAttached(const DriveRecord&) { return true; }
    // The file system table (/etc/fstab): the mount points disks are meant for.
    virtual QByteArray FileSystemTable();
};

using VolumeProbe = std::function<VolumeIdentity(const QString& node)>;

// Mounted volumes from the mount table with capacities from the file
// systems, then every block device that is not mounted; disks from sysfs,
// file system types and labels from the volumes' own first sectors.
class LinuxDriveSource : public DriveSource {
public:
    explicit LinuxDriveSource(QString mountInfoPath = kOwnMountTable, SysfsReader sysfs = SysfsReader(),
                              VolumeProbe probe = ProbeVolume, UdevDatabase udev = UdevDatabase());
    std::vector<DriveRecord> ListDrives() override;
    // The disk's node and sysfs entry are there and it has a medium.
    bool StillAttached(const DriveRecord& drive) override;

private:
    QString m_strMountInfoPath;
    SysfsReader m_sysfs;
    VolumeProbe m_probe;
    UdevDatabase m_udev;
};

}  // namespace snapmend
