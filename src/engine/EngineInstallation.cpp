#include "EngineInstallation.h"

#include <QFileInfo>

#include "InstallLayout.h"
#include "Ownership.h"
#include "Paths.h"
#include "PlatformServices.h"

namespace snapmend {
namespace {

QString MissingPieceMessage(int code)
{
    return QStringLiteral("Failed to load engine, error code %1. Installation may be corrupted, please try to "
                          "re-install Snapmend")
        .arg(code);
}

}  // namespace

QString GetAppDataFolder() { return UserDataFolder(); }

QString GetTempFolder() { return SystemTempFolder(); }

QString EngineFolder(const PlatformServices& platform)
{
    return platform.engineFolder.isEmpty() ? RunningLayout().engineFolder : platform.engineFolder;
}

bool CheckEngineInstalled(const QString& folder, QString& enginePath, Notices& notices)
{
    // The folder belongs to the installation: it is looked for, never created.
    if (!QFileInfo(folder).isDir()) {
        notices.push_back({QStringLiteral("Failed to load engine, error code -1007")});
        return false;
    }
    return CheckEngineFolder(folder, enginePath, notices);
}

bool CheckEngineFolder(const QString& folder, QString& enginePath, Notices& notices)
{
    enginePath = JoinPath(folder, kEngineFileName);
    const struct {
        QString path;
        int code;
    } pieces[] = {
        {enginePath, -1003},
        {JoinPath(folder, kEngineLibraryName), -1004},
        {JoinPath(folder, kEngineRuntimeTreeName), -1005},
    };
    for (const auto& piece : pieces) {
        if (!PathExists(piece.path)) {
            notices.push_back({MissingPieceMessage(piece.code)});
            return false;
        }
    }
    // The engine runs as root: a piece that another user could swap would run their code.
    for (const auto& piece : pieces) {
        QString reason;
        if (!IsPathTrusted(piece.path, &reason)) {
            notices.push_back({MissingPieceMessage(piece.code) + QStringLiteral("\n\n") + reason});
            return false;
        }
    }
    return true;
}

}  // namespace snapmend
