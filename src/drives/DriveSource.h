#pragma once
#include "DriveRecord.h"
#include "Sysfs.h"
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
};

using VolumeProbe = std::function<VolumeIdentity(const QString& node)>;

// Mounted volumes from the mount table with capacities from the file
// systems, then every block device that is not mounted; disks from sysfs,
// file system types and labels from the volumes' own first sectors.
class LinuxDriveSource : public DriveSource {
public:
    explicit LinuxDriveSource(QString mountInfoPath = kOwnMountTable, SysfsReader sysfs = SysfsReader(),
                              VolumeProbe probe = ProbeVolume);
    std::vector<DriveRecord> ListDrives() override;

private:
    QString m_strMountInfoPath;
    SysfsReader m_sysfs;
    VolumeProbe m_probe;
};

}  // namespace snapmend
