#pragma once
#include "DiskMapping.h"
#include "DriveRecord.h"
#include "MountInfo.h"

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

// The drive kind shown in the "Information" column.
QString DriveTypeText(const DiskInfo& disk, const QString& fsType);

// The mount point as a drive name: trailing '/' removed, except for "/" itself.
QString DriveNameFromMountPoint(const QString& mountPoint);

// The drives that can be scanned, sorted by name: one per block device (its
// shortest mount point, preferring mounts of the file system's root), left out
// when excluded, when the capacity cannot be queried, or when the volume does
// not map to exactly one whole disk.
std::vector<DriveRecord> BuildDriveRecords(const std::vector<MountEntry>& mounts, const QString& sysRoot,
                                           const CapacityQuery& capacityOf);

}  // namespace snapmend
