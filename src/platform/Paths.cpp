#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace snapmend {

QString JoinPath(const QString& base, const QString& more)
{
    if (base.isEmpty())
        return more;
    QString left = base;
    while (left.size() > 1 && left.endsWith(QLatin1Char('/')))
        left.chop(1);
    int start = 0;
    while (start < more.size() && more.at(start) == QLatin1Char('/'))
        ++start;
    if (start == more.size())
        return left == QLatin1String("/") ? left : left + QLatin1Char('/');
    return (left == QLatin1String("/") ? left : left + QLatin1Char('/')) + more.mid(start);
}

bool PathExists(const QString& path) { return !path.isEmpty() && QFileInfo::exists(path); }

QString ExecutableFolder()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString UserDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString SystemTempFolder()
{
    QString dir = QDir::tempPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString UserPicturesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

}  // namespace snapmend
