#include "DevicePresence.h"

#include "FileSystem.h"

namespace snapmend {

DevicePresence::DevicePresence(const QString& path, SysfsReader sysfs) : m_path(path), m_sysfs(std::move(sysfs))
{
    const std::optional<FileStatus> status = StatusOfPath(path);
    if (status && status->kind == FileKind::BlockDevice)
        m_sysEntry =
            m_sysfs.Path(QStringLiteral("dev/block/%1:%2").arg(status->deviceNode.major).arg(status->deviceNode.minor));
}

bool DevicePresence::StillThere() const
{
    if (m_sysEntry.isEmpty())
        return StatusOfPath(m_path).has_value();
    // A reader whose card was pulled, or a detached loop device, stays with size 0.
    return m_sysfs.Read(m_sysEntry + QStringLiteral("/size")).trimmed().toULongLong() > 0;
}

}  // namespace snapmend
