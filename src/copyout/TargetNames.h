#pragma once
#include <QString>

namespace snapmend {

// The text after the path's last '/' (the whole path when it has none).
QString SourceFileName(const QString& sourcePath);

// "name (n).ext": the number goes before the last dot of the name, or at its
// end when the name has no extension (a leading dot does not start one).
QString NumberedFileName(const QString& fileName, int n);

}  // namespace snapmend
