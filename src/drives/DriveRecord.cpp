#include "DriveRecord.h"

#include <QStringList>

namespace snapmend {

QString FormatSize(qint64 bytes)
{
    if (bytes > 1073741824)
        return QString::asprintf("%.1f GB", static_cast<double>(bytes) / 1073741824.0);
    if (bytes > 1048576)
        return QString::asprintf("%.1f MB", static_cast<double>(bytes) / 1048576.0);
    if (bytes > 1024)
        return QString::asprintf("%.1f KB", static_cast<double>(bytes) * 0.0009765625);
    // Printed whole, so that no count (however negative) wraps around.
    return QString::asprintf("%lld bytes", static_cast<long long>(bytes));
}

QString MakeEngineDeviceName(unsigned diskNumber)
{
    // Bijective base 26: a..z, aa..zz, aaa..
    QString letters;
    long long n = diskNumber;
    do {
        letters.prepend(QChar(char16_t(u'a' + n % 26)));
        n = n / 26 - 1;
    } while (n >= 0);
    return QStringLiteral("/dev/sd") + letters;
}

DriveRecord DiskImageRow()
{
    DriveRecord row;
    row.name = kDiskImageRowText;
    row.typeText = kDiskImageRowType;
    row.mounted = false;
    row.imageRow = true;
    return row;
}

QString DriveToolTip(const DriveRecord& drive)
{
    if (drive.imageRow)
        return QStringLiteral("Choose a disk image file to scan, for example a copy of a failing card.");
    QStringList lines{drive.name};
    if (drive.mounted && !drive.device.isEmpty())
        lines << QStringLiteral("Device: %1").arg(drive.device);
    if (!drive.mounted)
        lines << QStringLiteral("Not mounted");
    if (!drive.label.isEmpty())
        lines << QStringLiteral("Label: %1").arg(drive.label);
    if (!drive.model.isEmpty())
        lines << QStringLiteral("Disk: %1").arg(drive.model);
    if (drive.volumeSize != 0 && drive.volumeSize != drive.capacity)
        lines << QStringLiteral("Volume size: %1").arg(FormatSize(static_cast<qint64>(drive.volumeSize)));
    lines << QStringLiteral("Disk size: %1").arg(FormatSize(static_cast<qint64>(drive.capacity)));
    if (drive.engineDevice != drive.device && !drive.engineDevice.isEmpty())
        lines << QStringLiteral("Scanned through the whole disk %1").arg(drive.engineDevice);
    return lines.join(QLatin1Char('\n'));
}

QString FileSystemText(const DriveRecord& drive)
{
    if (drive.partitionTable.isEmpty())
        return drive.fileSystem;
    if (drive.partitionTable == QStringLiteral("dos"))
        return QStringLiteral("MBR partitions");
    if (drive.partitionTable == QStringLiteral("gpt"))
        return QStringLiteral("GPT partitions");
    return QStringLiteral("partitions (%1)").arg(drive.partitionTable);
}

QString InformationText(const DriveRecord& drive)
{
    if (drive.model.isEmpty() || drive.imageRow)
        return drive.typeText;
    if (drive.typeText.isEmpty())
        return drive.model;
    return drive.typeText + QStringLiteral(", ") + drive.model;
}

const DriveRecord* FindDriveByName(const std::vector<DriveRecord>& drives, const QString& name)
{
    for (const DriveRecord& drive : drives) {
        if (drive.name == name)
            return &drive;
    }
    return nullptr;
}

}  // namespace snapmend
