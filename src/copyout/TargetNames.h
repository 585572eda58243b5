#pragma once
#include <QString>
#include <QStringList>

namespace snapmend {

// The text after the path's last '/' (the whole path when it has none).
QString SourceFileName(const QString& sourcePath);

// The folders between `sourceRoot` and the file `sourcePath`, outermost
// first: empty for a file directly in the root or outside it. Empty, "." and
// ".." components are left out, so the path never climbs.
QStringList SourceSubfolders(const QString& sourcePath, const QString& sourceRoot);

// A workspace name as the output folder gets it: controls and direction
// overrides shown as U+FFFD, and a leading dot as '_', so that no result
// lands hidden (or as a shell's start-up file in a home folder).
QString TargetName(const QString& workspaceName);

// "name (n).ext": the number goes before the last dot of the name, or at its
// end when the name has no extension (a leading dot does not start one).
QString NumberedFileName(const QString& fileName, int n);

}  // namespace snapmend
