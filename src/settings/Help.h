#pragma once
#include <QString>
#include <optional>

namespace snapmend {

// Our own HTML help (the name is kept from the Windows program).
inline const QString kHelpFileName = QStringLiteral("help.chm");
inline const QString kHelpNotFoundText = QStringLiteral("Help file is not found.");

// The help file in `dataFolder` when it is a regular file; nothing when it
// is missing or is anything else (the caller says "Help file is not found.").
std::optional<QString> FindHelpFile(const QString& dataFolder);

// What the help page says of this very installation.
struct HelpFacts {
    QString settingsFolder;  // where settings.ini and formats.ini are kept
    QString engineFolder;    // where the engine and its runtime files are
};

// The help page `html` with its placeholders for the facts ({{SETTINGS_FOLDER}},
// {{ENGINE_FOLDER}}) filled in.
QString FillHelpFacts(QString html, const HelpFacts& facts);

// The help file's text with the facts filled in; empty when it cannot be read.
QString ReadHelpPage(const QString& helpFile, const HelpFacts& facts);

}  // namespace snapmend
