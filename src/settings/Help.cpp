#include "Help.h"

#include <QFileInfo>

#include "SettingsFiles.h"

namespace snapmend {

std::optional<QString> FindHelpFile(const QString& dataFolder)
{
    const QString path = SettingsFilePath(dataFolder, kHelpFileName);
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return std::nullopt;
    return path;
}

}  // namespace snapmend
