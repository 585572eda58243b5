#include "DriveSource.h"

#include "DriveEnumeration.h"
#include "MountInfo.h"

#include <QFile>
#include <blkid/blkid.h>
#include <sys/statvfs.h>

namespace snapmend {

LinuxDriveSource::LinuxDriveSource(QString mountInfoPath, QString sysRoot, VolumeProbe probe)
    : m_strMountInfoPath(std::move(mountInfoPath)), m_strSysRoot(std::move(sysRoot)), m_probe(std::move(probe))
{
}

VolumeIdentity LinuxDriveSource::ProbeVolume(const QString& node)
{
    VolumeIdentity identity;
    blkid_probe probe = blkid_new_probe_from_filename(QFile::encodeName(node).constData());
    if (!probe)
        return identity;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
    blkid_probe_enable_partitions(probe, 1);
    // Ambiguous signatures (leftovers of an older format) count as none.
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

std::vector<DriveRecord> LinuxDriveSource::ListDrives()
{
    QFile file(m_strMountInfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A proc file reports no size: read until the end.
    const std::vector<MountEntry> mounts = ParseMountInfo(file.readAll());
    std::vector<DriveRecord> drives = BuildDriveRecords(mounts, m_strSysRoot, QueryCapacity);
    for (DriveRecord& drive : drives)
        drive.label = m_probe(drive.device).label;
    for (DriveRecord& drive : BuildUnmountedRecords(m_strSysRoot, MountedDeviceDirs(mounts, m_strSysRoot), m_probe))
        drives.push_back(std::move(drive));
    return drives;
}

std::optional<quint64> QueryCapacity(const QString& mountPoint)
{
    struct statvfs info {};
    if (statvfs(QFile::encodeName(mountPoint).constData(), &info) != 0)
        return std::nullopt;
    return static_cast<quint64>(info.f_blocks) * static_cast<quint64>(info.f_frsize);
}

}  // namespace snapmend
