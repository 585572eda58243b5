#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <unistd.h>

#include "Ownership.h"

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
    // HOME and XDG_DATA_HOME may be another user's (sudo -E): they count only
    // where nobody else can change them; otherwise the account's own home.
    const QString fromEnvironment = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    QString existing = fromEnvironment;
    while (!existing.isEmpty() && !QFileInfo::exists(existing) && existing != QLatin1String("/"))
        existing = QFileInfo(existing).path();
    if (!fromEnvironment.isEmpty() && IsPathTrusted(existing))
        return fromEnvironment;
    const std::optional<Account> account = LookUpAccount(::geteuid());
    return account ? JoinPath(account->home, QStringLiteral(".local/share")) : QString();
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
    if (const std::optional<Account> person = InvokingPerson())
        return JoinPath(person->home, QStringLiteral("Pictures"));
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

}  // namespace snapmend
