#pragma once
#include <QString>
#include <QtGlobal>
#include <vector>

namespace snapmend {

// One drive of the drive list.
struct DriveRecord {
    QString name;          // mount point, no trailing '/' (except "/"); also the row's key
    QString physicalPath;  // node of the whole disk holding the volume, e.g. /dev/sda
    quint64 capacity = 0;  // size in bytes of the whole disk the scan reads
    quint64 volumeSize = 0; // size in bytes of the volume itself (its file system, or the partition)
    QString fileSystem;    // e.g. ext4; empty when unknown
    QString partitionTable; // e.g. gpt, when the row is a whole disk with a partition table
    QString typeText;      // the disk's kind: "USB disk", "SD card", "Internal disk", ... or empty
    QString model;         // the disk's vendor and model (a loop device's image file); empty when unknown
    QString engineDevice;  // the disk as named on the engine's command line
    QString device;        // node of the volume itself, e.g. /dev/sdb1; empty for the image row
    QString label;         // the volume's label; empty when it has none
    bool mounted = true;   // false: listed by its device node
    bool imageRow = false; // the row that asks for a disk image file instead of naming a drive

    bool operator==(const DriveRecord& o) const
    {
        return name == o.name && physicalPath == o.physicalPath && capacity == o.capacity &&
               volumeSize == o.volumeSize && fileSystem == o.fileSystem && partitionTable == o.partitionTable &&
               typeText == o.typeText && model == o.model && engineDevice == o.engineDevice && device == o.device &&
               label == o.label && mounted == o.mounted && imageRow == o.imageRow;
    }
};

// The Drive and Information texts of the row that asks for a disk image file
// (the Drive column is 80 pixels wide).
inline const QString kDiskImageRowText = QStringLiteral("Image file...");
inline const QString kDiskImageRowType = QStringLiteral("Disk image file");

// The row that asks for a disk image file; it is always the last row.
DriveRecord DiskImageRow();

// The row's tool tip: the full mount point or device, device, label, sizes and disk.
QString DriveToolTip(const DriveRecord& drive);

// The "File System" cell: the file system, or what partition table a whole disk holds.
QString FileSystemText(const DriveRecord& drive);

// The "Information" cell: the disk's kind and its vendor and model.
QString InformationText(const DriveRecord& drive);

// Shown when the chosen disk has gone since the list was made.
inline const QString kDriveGoneText =
    QStringLiteral("This disk is no longer attached. The list of drives has been refreshed.");

// A byte count for display: "%d bytes", "%.1f KB", "%.1f MB" or "%.1f GB",
// with strict thresholds at 1024, 2^20 and 2^30.
QString FormatSize(qint64 bytes);

// "/dev/sd" plus the disk's letters: 0 -> /dev/sda, 25 -> /dev/sdz,
// 26 -> /dev/sdaa, 27 -> /dev/sdab, ... (the kernel's own sd naming).
QString MakeEngineDeviceName(unsigned diskNumber);

// The first record whose name equals `name` exactly, or null.
const DriveRecord* FindDriveByName(const std::vector<DriveRecord>& drives, const QString& name);

}  // namespace snapmend
