#include "TargetNames.h"

namespace snapmend {

QString SourceFileName(const QString& sourcePath)
{
    return sourcePath.mid(sourcePath.lastIndexOf(QLatin1Char('/')) + 1);
}

QString NumberedFileName(const QString& fileName, int n)
{
    const QString number = QStringLiteral(" (%1)").arg(n);
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return fileName + number;
    return fileName.left(dot) + number + fileName.mid(dot);
}

}  // namespace snapmend
