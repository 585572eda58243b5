#include "Sysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace snapmend {

QByteArray SysfsReader::Read(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

QString SysfsReader::Resolve(const QString& path) const { return QFileInfo(path).canonicalFilePath(); }

bool SysfsReader::Exists(const QString& path) const { return QFileInfo::exists(path); }

QStringList SysfsReader::Entries(const QString& folder) const
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
}

}  // namespace snapmend
