#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace snapmend {

// The mount points /etc/fstab names (its second field, octal escapes undone),
// leaving out swap and "none"; comments and malformed lines are skipped.
QStringList ParseFstabMountPoints(const QByteArray& fstab);

// The mount point that `folder` (absolute, links resolved) was meant to lie
// on when that disk is not mounted there now, so that writing there would go
// to the disk that holds it instead: the deepest folder from `folder` up to
// the mount that holds it which /etc/fstab names (`fstabPoints`), or which
// sits where disks are mounted (/mnt/X, /media/X, /media/USER/X,
// /run/media/USER/X), and is empty or missing (`emptyOrMissing`). Nothing
// when the folder lies on a disk mounted for it. `mounted` are the mount
// points of the mount table.
std::optional<QString> MeantMountPoint(const QString& folder, const QStringList& mounted,
                                       const QStringList& fstabPoints,
                                       const std::function<bool(const QString&)>& emptyOrMissing);

// MeantMountPoint on this system: the folder's links resolved as far as it
// exists, this process's mount table and the file system table `fstab`.
std::optional<QString> UnmountedMountPointOf(const QString& folder, const QByteArray& fstab);

// The Yes/No question asked before writing into such a folder.
QString UnmountedMountPointQuestion(const QString& folder, const QString& mountPoint);

}  // namespace snapmend
