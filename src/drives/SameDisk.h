#pragma once
#include <QString>
#include <optional>

namespace snapmend {

// The whole disk's device node (e.g. /dev/sdb) of `folder` when writing there
// would overwrite what `scanSource` reads: for a block device, the folder lies
// on the same whole disk (a partition counts as its disk); for a disk image
// file, the folder lies on a loop disk that reads that image. A folder that
// does not exist yet is judged by its nearest existing parent. Device numbers
// and inodes decide, never path text. Nothing when the folder is elsewhere or
// its disk cannot be told (a file system without a block device of its own).
std::optional<QString> FolderOnScannedDisk(const QString& scanSource, const QString& folder);

// "The output folder "<folder>" is on the disk being scanned (<disk>). ..."
QString FolderOnScannedDiskMessage(const QString& folder, const QString& disk);

}  // namespace snapmend
