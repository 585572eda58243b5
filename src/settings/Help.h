#pragma once
#include <QString>

class QWidget;

namespace snapmend {

class UiServices;
struct PlatformServices;

inline const QString kHelpFileName = QStringLiteral("help.chm");

// The folder holding help.chm: the one `platform` names (a test's own), else
// the running layout's data folder (beside a build-tree executable, the
// package's data folder when installed).
QString HelpFolder(const PlatformServices& platform);

// Opens programFolder's help.chm with the desktop's default handler. When the
// file is missing or nothing could open it, shows "Help file is not found."
// (caption "Snapmend", OK, no icon) owned by `owner` and returns false.
bool OpenHelpFile(const QString& programFolder, UiServices& ui, QWidget* owner);

}  // namespace snapmend
