#pragma once
#include <QString>
#include <optional>

#include "Sysfs.h"

namespace snapmend {

struct MountEntry;

// The whole disk under a volume, as sysfs describes it.
struct DiskInfo {
    QString sysDir;          // canonical sysfs folder of the disk
    QString name;            // kernel name, e.g. sda, nvme0n1, loop0
    QString node;            // its device node, e.g. /dev/sda
    bool removable = false;  // the disk's "removable" flag
};

// The sysfs folder of the block device mounted by `entry`, or nothing when the
// mount is not backed by a block device.
std::optional<QString> BlockDeviceDir(const SysfsReader& sysfs, const MountEntry& entry);

// The single whole disk that holds the block device whose sysfs folder is
// `deviceDir`: a partition maps to its parent disk, a disk (loop devices
// included) to itself, a device-mapper or md volume through its slaves/ to the
// one disk under all of them. Nothing when there are several disks or none.
std::optional<DiskInfo> MapVolumeToDisk(const SysfsReader& sysfs, const QString& deviceDir);

// The /dev node of the block device whose sysfs folder is `deviceDir`.
QString DeviceNodeOf(const SysfsReader& sysfs, const QString& deviceDir);

}  // namespace snapmend
