#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace snapmend {

// What a volume's own first sectors say it is: file system type (or, for a
// whole disk with no file system of its own, its partition table type) and
// label; both empty when nothing is recognised.
struct VolumeIdentity {
    QString type;
    QString label;
};

// libblkid's view of a device node. Reads the device; ambiguous signatures
// (leftovers of an older format) count as none.
VolumeIdentity ProbeVolume(const QString& node);

// Total bytes of the file system mounted at `mountPoint` (statvfs), or nothing.
std::optional<quint64> QueryCapacity(const QString& mountPoint);

// The mount table as the kernel shows it to this process; nothing when it
// cannot be read.
inline const QString kOwnMountTable = QStringLiteral("/proc/self/mountinfo");
std::optional<QByteArray> ReadMountTable(const QString& path = kOwnMountTable);

}  // namespace snapmend
