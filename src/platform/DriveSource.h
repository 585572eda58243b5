#pragma once
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

// Mounted volumes from mountinfo, capacities from statvfs, disks from sysfs.
class LinuxDriveSource : public DriveSource {
public:
    explicit LinuxDriveSource(QString mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
                              QString sysRoot = QStringLiteral("/sys"));
    std::vector<DriveRecord> ListDrives() override;

private:
    QString m_strMountInfoPath;
    QString m_strSysRoot;
};

// Total bytes of the file system mounted at `mountPoint` (statvfs), or nothing.
std::optional<quint64> QueryCapacity(const QString& mountPoint);

}  // namespace snapmend
