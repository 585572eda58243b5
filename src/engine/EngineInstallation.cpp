#include "EngineInstallation.h"

#include <QFileInfo>

#include "InstallLayout.h"
#include "Ownership.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "UiServices.h"

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

bool CheckEngineInstalled(UiServices& ui, QWidget* owner, const QString& folder, QString& enginePath)
{
    // The folder belongs to the installation: it is looked for, never created.
    if (!QFileInfo(folder).isDir()) {
        ui.MessageBox(owner, QStringLiteral("Failed to load engine, error code -1007"), kMessageCaption, MB_OK);
        return false;
    }
    return CheckEngineFolder(ui, owner, folder, enginePath);
}

bool CheckEngineFolder(UiServices& ui, QWidget* owner, const QString& folder, QString& enginePath)
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
            ui.MessageBox(owner, MissingPieceMessage(piece.code), kMessageCaption, MB_OK);
            return false;
        }
    }
    // The engine runs as root: a piece that another user could swap would run their code.
    for (const auto& piece : pieces) {
        QString reason;
        if (!IsPathTrusted(piece.path, &reason)) {
            ui.MessageBox(owner, MissingPieceMessage(piece.code) + QStringLiteral("\n\n") + reason, kMessageCaption,
                          MB_OK);
            return false;
        }
    }
    return true;
}

}  // namespace snapmend
