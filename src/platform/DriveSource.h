#pragma once
#include "DriveEnumeration.h"
#include "DriveRecord.h"

#include <QString>
#include <optional>
#include <vector>

namespace snapmend {

// The drives that can be scanned, as the operating system reports them now.
class DriveSource {
public:
    virtual ~DriveSource() = default;
    // Blocks while the system is queried; sorted by name.
    virtual std::vector<DriveRecord> ListDrives() = 0;
};

// Mounted volumes from mountinfo with capacities from statvfs, then every
// block device that is not mounted; disks from sysfs, file system types and
// labels from libblkid.
class LinuxDriveSource : public DriveSource {
public:
    explicit LinuxDriveSource(QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                              QString sysRoot = QStringLiteral("/sys"), VolumeProbe probe = ProbeVolume);
    std::vector<DriveRecord> ListDrives() override;

    // libblkid's view of a device node: its file system type (or partition
    // table type) and label. Reads the device; empty when nothing is found.
    static VolumeIdentity ProbeVolume(const QString& node);

private:
    QString m_strMountInfoPath;
    QString m_strSysRoot;
    VolumeProbe m_probe;
};

// Total bytes of the file system mounted at `mountPoint` (statvfs), or nothing.
std::optional<quint64> QueryCapacity(const QString& mountPoint);

}  // namespace snapmend
