#include "Help.h"

#include <QFileInfo>

#include "Paths.h"
#include "SettingsFiles.h"
#include "UiServices.h"

namespace snapmend {

bool OpenHelpFile(const QString& programFolder, UiServices& ui, QWidget* owner)
{
    const QString path = SettingsFilePath(programFolder, kHelpFileName);
    if (PathExists(path) && QFileInfo(path).isFile() && ui.OpenWithDefaultHandler(path))
        return true;
    ui.MessageBox(owner, QStringLiteral("Help file is not found."), kMessageCaption, MB_OK);
    return false;
}

}  // namespace snapmend
