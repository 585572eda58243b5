#pragma once
#include "DiskMapping.h"
#include "DriveRecord.h"
#include "MountInfo.h"
#include "Sysfs.h"
#include "UdevDatabase.h"
#include "Volumes.h"

#include <QSet>
#include <functional>
#include <optional>
#include <vector>

namespace snapmend {

// Total size in bytes of the file system mounted at a mount point, or nothing
// when it cannot be queried.
using CapacityQuery = std::function<std::optional<quint64>(const QString& mountPoint)>;

// File systems that are never offered for a scan whatever backs them:
// read-only images (application squashfs and the like), network and pseudo ones.
bool IsExcludedFileSystem(const QString& fsType);

// The mount point as a drive name: trailing '/' removed, except for "/" itself.
QString DriveNameFromMountPoint(const QString& mountPoint);

// The drives that can be scanned, sorted by name: one per block device (its
// shortest mount point, preferring mounts of the file system's root), left out
// when excluded, when the capacity cannot be queried, or when the volume does
// not map to exactly one whole disk. Each row describes the whole disk the
// scan reads (kind, vendor and model from udev, its own size).
std::vector<DriveRecord> BuildDriveRecords(const std::vector<MountEntry>& mounts, const SysfsReader& sysfs,
                                           const UdevDatabase& udev, const CapacityQuery& capacityOf);

// What a volume's own first sectors say it is (ProbeVolume on the system).
using VolumeProbe = std::function<VolumeIdentity(const QString& node)>;

// The sysfs folders of every block device mounted somewhere.
QSet<QString> MountedDeviceDirs(const std::vector<MountEntry>& mounts, const SysfsReader& sysfs);

// Block devices that are not mounted, whole disks and partitions, sorted by
// node: the card with a damaged or unknown file system is exactly the one to
// scan, so no file system is needed ("unknown"). Left out: devices without
// media (size 0), devices in use by another volume (holders), RAM disks,
// read-only image file systems, eMMC boot and RPMB areas, and devices that do
// not map to exactly one whole disk. A whole disk with a partition table
// says so instead of naming a file system.
std::vector<DriveRecord> BuildUnmountedRecords(const SysfsReader& sysfs, const UdevDatabase& udev,
                                               const QSet<QString>& mountedDirs, const VolumeProbe& probe);

}  // namespace snapmend
