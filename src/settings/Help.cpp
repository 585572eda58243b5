#include "Help.h"

#include <QFile>
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

QString FillHelpFacts(QString html, const HelpFacts& facts)
{
    return html.replace(QStringLiteral("{{SETTINGS_FOLDER}}"), facts.settingsFolder.toHtmlEscaped())
        .replace(QStringLiteral("{{ENGINE_FOLDER}}"), facts.engineFolder.toHtmlEscaped());
}

QString ReadHelpPage(const QString& helpFile, const HelpFacts& facts)
{
    // The page is a few dozen kilobytes; a larger file is not the program's own.
    constexpr qint64 kMaxHelpBytes = 1024 * 1024;
    QFile file(helpFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return FillHelpFacts(QString::fromUtf8(file.read(kMaxHelpBytes)), facts);
}

}  // namespace snapmend
