#include "Help.h"

#include <QFileInfo>

#include "InstallLayout.h"
#include "Paths.h"
#include "PlatformServices.h"
#include "SettingsFiles.h"
#include "UiServices.h"

namespace snapmend {

QString HelpFolder(const PlatformServices& platform)
{
    return platform.programFolder.isEmpty() ? RunningLayout().dataFolder : platform.programFolder;
}

bool OpenHelpFile(const QString& programFolder, UiServices& ui, QWidget* owner)
{
    const QString path = SettingsFilePath(programFolder, kHelpFileName);
    if (PathExists(path) && QFileInfo(path).isFile() && ui.OpenWithDefaultHandler(path))
        return true;
    ui.MessageBox(owner, QStringLiteral("Help file is not found."), kMessageCaption, MB_OK);
    return false;
}

}  // namespace snapmend
