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

}  // namespace snapmend
