#include "DiskDescription.h"

#include <QFileInfo>
#include <QSet>

namespace snapmend {
namespace {

QString Attribute(const SysfsReader& sysfs, const QString& path)
{
    return QString::fromUtf8(sysfs.Read(path).split('\n').front()).simplified();
}

// A udev name: the escaped form keeps the maker's spaces, the plain one has '_' for them.
QString UdevName(const UdevProperties& udev, const QString& key)
{
    const QString encoded = udev.value(key + QStringLiteral("_ENC"));
    if (!encoded.isEmpty())
        return DecodeUdevValue(encoded).simplified();
    return QString(udev.value(key)).replace(QLatin1Char('_'), QLatin1Char(' ')).simplified();
}

// Names that say nothing about the disk: the transport ("ATA") or a numeric id ("0x1af4").
bool IsPlaceholderName(const QString& name)
{
    return name.isEmpty() || name.compare(QStringLiteral("ATA"), Qt::CaseInsensitive) == 0 ||
           name.startsWith(QStringLiteral("0x"));
}

QString VendorAndModel(const SysfsReader& sysfs, const UdevProperties& udev, const QString& sysDir)
{
    QString vendor = UdevName(udev, QStringLiteral("ID_VENDOR"));
    if (vendor.isEmpty())
        vendor = Attribute(sysfs, sysDir + QStringLiteral("/device/vendor"));
    QString model = UdevName(udev, QStringLiteral("ID_MODEL"));
    if (model.isEmpty())
        model = Attribute(sysfs, sysDir + QStringLiteral("/device/model"));
    if (model.isEmpty())  // memory cards name themselves here
        model = Attribute(sysfs, sysDir + QStringLiteral("/device/name"));
    if (IsPlaceholderName(model))
        model.clear();
    if (IsPlaceholderName(vendor) || model.startsWith(vendor, Qt::CaseInsensitive))
        return model;
    return model.isEmpty() ? vendor : vendor + QLatin1Char(' ') + model;
}

QString LoopImageName(const SysfsReader& sysfs, const QString& sysDir)
{
    const QString backing = QString::fromUtf8(sysfs.Read(sysDir + QStringLiteral("/loop/backing_file")).split('\n').front());
    return QFileInfo(backing.trimmed()).fileName();
}

bool IsUsb(const UdevProperties& udev, const QString& sysDir)
{
    const QString bus = udev.value(QStringLiteral("ID_BUS"));
    if (!bus.isEmpty())
        return bus == QStringLiteral("usb");
    return sysDir.contains(QStringLiteral("/usb"));
}

bool IsSdCard(const SysfsReader& sysfs, const UdevProperties& udev, const DiskInfo& disk)
{
    if (disk.name.startsWith(QStringLiteral("mmcblk")))
        return Attribute(sysfs, disk.sysDir + QStringLiteral("/device/type")) == QStringLiteral("SD");
    // Card readers on USB: udev marks the slot (and the medium in it) as an SD slot.
    return udev.value(QStringLiteral("ID_DRIVE_FLASH_SD")) == QStringLiteral("1") ||
           udev.value(QStringLiteral("ID_DRIVE_MEDIA_FLASH_SD")) == QStringLiteral("1");
}

QString KindOf(const SysfsReader& sysfs, const UdevProperties& udev, const DiskInfo& disk, const QString& fsType)
{
    const QString& name = disk.name;
    if (name.startsWith(QStringLiteral("sr")) || fsType == QStringLiteral("iso9660") || fsType == QStringLiteral("udf"))
        return QStringLiteral("Compact Disc");
    if (name.startsWith(QStringLiteral("nbd")) || name.startsWith(QStringLiteral("rbd")))
        return QStringLiteral("Network Drive");
    if (name.startsWith(QStringLiteral("zram")) || name.startsWith(QStringLiteral("ram")))
        return QString();  // RAM disk: no kind of its own
    if (name.startsWith(QStringLiteral("loop")))
        return QStringLiteral("Loop device");
    if (IsSdCard(sysfs, udev, disk))
        return QStringLiteral("SD card");
    if (IsUsb(udev, disk.sysDir))
        return QStringLiteral("USB disk");
    if (disk.removable)
        return QStringLiteral("Removable disk");
    return QStringLiteral("Internal disk");
}

}  // namespace

DiskDescription DescribeDisk(const SysfsReader& sysfs, const UdevDatabase& udev, const DiskInfo& disk,
                             const QString& fsType)
{
    const UdevProperties properties = udev.BlockDevice(Attribute(sysfs, disk.sysDir + QStringLiteral("/dev")));
    DiskDescription description;
    description.kind = KindOf(sysfs, properties, disk, fsType);
    description.model = disk.name.startsWith(QStringLiteral("loop")) ? LoopImageName(sysfs, disk.sysDir)
                                                                      : VendorAndModel(sysfs, properties, disk.sysDir);
    // sysfs counts 512-byte units whatever the sector size
    description.bytes = Attribute(sysfs, disk.sysDir + QStringLiteral("/size")).toULongLong() * 512;
    return description;
}

bool IsPartitionTableType(const QString& type)
{
    static const QSet<QString> tables = {
        QStringLiteral("dos"),     QStringLiteral("gpt"),      QStringLiteral("mac"),   QStringLiteral("bsd"),
        QStringLiteral("sun"),     QStringLiteral("sgi"),      QStringLiteral("atari"), QStringLiteral("solaris"),
        QStringLiteral("unixware"), QStringLiteral("minix"),   QStringLiteral("aix"),   QStringLiteral("ultrix"),
    };
    return tables.contains(type);
}

}  // namespace snapmend
