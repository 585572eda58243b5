#pragma once
#include <QString>

class QWidget;

namespace snapmend {

class UiServices;

inline const QString kHelpFileName = QStringLiteral("help.chm");

// Opens programFolder's help.chm with the desktop's default handler. When the
// file is missing or nothing could open it, shows "Help file is not found."
// (caption "Snapmend", OK, no icon) owned by `owner` and returns false.
bool OpenHelpFile(const QString& programFolder, UiServices& ui, QWidget* owner);

}  // namespace snapmend
