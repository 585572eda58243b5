#pragma once
#include <QString>
#include <QtGlobal>

#include "DiskMapping.h"
#include "Sysfs.h"
#include "UdevDatabase.h"

namespace snapmend {

// What the drive list says about a whole disk, so that two disks can be told apart.
struct DiskDescription {
    // "USB disk", "SD card", "Internal disk", "Removable disk", "Loop device",
    // "Compact Disc", "Network Drive", or empty for a RAM disk.
    QString kind;
    QString model;       // vendor and model, a loop device's image file name; empty when unknown
    quint64 bytes = 0;   // the disk's own size, 0 when unknown
};

// The disk's kind from its bus and removable flags, its maker's names from
// udev (sysfs when udev has no record), and its size from sysfs. `fsType` is
// what the volume on it holds (optical media are recognised by it too).
DiskDescription DescribeDisk(const SysfsReader& sysfs, const UdevDatabase& udev, const DiskInfo& disk,
                             const QString& fsType);

// True for the partition table types libblkid reports for a whole disk.
bool IsPartitionTableType(const QString& type);

}  // namespace snapmend
