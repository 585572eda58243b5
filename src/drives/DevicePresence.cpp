#include "DevicePresence.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace snapmend {

DevicePresence::DevicePresence(const QString& path, const QString& sysRoot) : m_path(path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode))
        m_sysEntry = sysRoot + QStringLiteral("/dev/block/%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
}

bool DevicePresence::StillThere() const
{
    if (m_sysEntry.isEmpty())
        return QFileInfo::exists(m_path);
    // A reader whose card was pulled, or a detached loop device, stays with size 0.
    QFile size(m_sysEntry + QStringLiteral("/size"));
    return size.open(QIODevice::ReadOnly) && size.read(32).trimmed().toULongLong() > 0;
}

}  // namespace snapmend
