#pragma once
#include <QString>

#include "Sysfs.h"

namespace snapmend {

// Whether the device a scan reads is still attached. A block device is gone
// once its sysfs entry has gone (a stick unplugged) or reports no media (a
// card pulled out of its reader, a loop device detached), even while the
// engine still holds it open; a disk image file once its path no longer exists.
class DevicePresence {
public:
    explicit DevicePresence(const QString& path, SysfsReader sysfs = SysfsReader());
    bool StillThere() const;

private:
    QString m_path;
    SysfsReader m_sysfs;
    QString m_sysEntry;  // empty for anything but a block device
};

}  // namespace snapmend
