#include "InstallLayout.h"

#include <QDir>
#include <QFileInfo>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Paths.h"

namespace snapmend {
namespace {

QString WithSlash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

// The folder with links and "." / ".." resolved; the cleaned text when it does not exist.
QString Canonical(const QString& folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

// Reentrant: the settings folder is also looked up on the scan's worker thread.
QString HomeFromPasswordDatabase()
{
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return QString();
    return QString::fromLocal8Bit(found->pw_dir);
}

}  // namespace

LayoutFacts BuiltInLayoutFacts()
{
    return {QStringLiteral(SNAPMEND_BUILD_FOLDER), QStringLiteral(SNAPMEND_STAGED_ENGINE),
            QStringLiteral(SNAPMEND_BIN_TO_ENGINE), QStringLiteral(SNAPMEND_BIN_TO_DATA)};
}

InstallLayout LayoutFor(const QString& executableFolder, const LayoutFacts& facts, const QString& configHome)
{
    InstallLayout layout;
    const QString here = Canonical(executableFolder);
    layout.buildTree = !facts.buildFolder.isEmpty() && here == Canonical(facts.buildFolder);
    if (layout.buildTree) {
        layout.engineFolder = QDir::cleanPath(JoinPath(here, facts.stagedEngine));
        layout.dataFolder = WithSlash(here);
        layout.settingsFolder = WithSlash(here);
    } else {
        layout.engineFolder = QDir::cleanPath(JoinPath(here, facts.binToEngine));
        layout.dataFolder = WithSlash(QDir::cleanPath(JoinPath(here, facts.binToData)));
        layout.settingsFolder = WithSlash(JoinPath(configHome, QStringLiteral("snapmend")));
    }
    return layout;
}

QString UserConfigHome()
{
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    struct stat st {};
    if (xdg.startsWith('/') && ::stat(xdg.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid())
        return QString::fromLocal8Bit(xdg);
    const QString home = HomeFromPasswordDatabase();
    return JoinPath(home.isEmpty() ? QDir::homePath() : home, QStringLiteral(".config"));
}

InstallLayout RunningLayout() { return LayoutFor(ExecutableFolder(), BuiltInLayoutFacts(), UserConfigHome()); }

}  // namespace snapmend
