#include "TargetNames.h"

#include "Paths.h"

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

QString TargetNames::TargetFor(const QString& outputFolder, const QString& sourcePath) const
{
    const QString name = SourceFileName(sourcePath);
    const QString own = JoinPath(outputFolder, name);
    if (!m_written.contains(own))
        return own;
    for (int n = 2;; ++n) {
        const QString candidate = JoinPath(outputFolder, NumberedFileName(name, n));
        if (!m_written.contains(candidate) && !PathExists(candidate))
            return candidate;
    }
}

}  // namespace snapmend
