#include "Volumes.h"

#include <QFile>
#include <blkid/blkid.h>
#include <sys/statvfs.h>

namespace snapmend {

VolumeIdentity ProbeVolume(const QString& node)
{
    VolumeIdentity identity;
    blkid_probe probe = blkid_new_probe_from_filename(QFile::encodeName(node).constData());
    if (!probe)
        return identity;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
    blkid_probe_enable_partitions(probe, 1);
    if (blkid_do_safeprobe(probe) == 0) {
        const char* value = nullptr;
        if (blkid_probe_lookup_value(probe, "TYPE", &value, nullptr) == 0 ||
            blkid_probe_lookup_value(probe, "PTTYPE", &value, nullptr) == 0)
            identity.type = QString::fromUtf8(value);
        if (blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0)
            identity.label = QString::fromUtf8(value);
    }
    blkid_free_probe(probe);
    return identity;
}

std::optional<quint64> QueryCapacity(const QString& mountPoint)
{
    struct statvfs info {};
    if (statvfs(QFile::encodeName(mountPoint).constData(), &info) != 0)
        return std::nullopt;
    return static_cast<quint64>(info.f_blocks) * static_cast<quint64>(info.f_frsize);
}

std::optional<QByteArray> ReadMountTable(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();  // a proc file reports no size: read until the end
}

}  // namespace snapmend
