#include "DriveSource.h"

#include "DriveEnumeration.h"
#include "MountInfo.h"

#include <QFile>
#include <sys/statvfs.h>

namespace snapmend {

LinuxDriveSource::LinuxDriveSource(QString mountInfoPath, QString sysRoot)
    : m_strMountInfoPath(std::move(mountInfoPath)), m_strSysRoot(std::move(sysRoot))
{
}

std::vector<DriveRecord> LinuxDriveSource::ListDrives()
{
    QFile file(m_strMountInfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A proc file reports no size: read until the end.
    const QByteArray text = file.readAll();
    return BuildDriveRecords(ParseMountInfo(text), m_strSysRoot, QueryCapacity);
}

std::optional<quint64> QueryCapacity(const QString& mountPoint)
{
    struct statvfs info {};
    if (statvfs(QFile::encodeName(mountPoint).constData(), &info) != 0)
        return std::nullopt;
    return static_cast<quint64>(info.f_blocks) * static_cast<quint64>(info.f_frsize);
}

}  // namespace snapmend
