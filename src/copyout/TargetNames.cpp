#include "TargetNames.h"

#include "WorkspaceFile.h"

namespace snapmend {

QString SourceFileName(const QString& sourcePath)
{
    return sourcePath.mid(sourcePath.lastIndexOf(QLatin1Char('/')) + 1);
}

QStringList SourceSubfolders(const QString& sourcePath, const QString& sourceRoot)
{
    QString root = sourceRoot;
    while (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    if (root.isEmpty() || !sourcePath.startsWith(root + QLatin1Char('/')))
        return {};
    QStringList parts = sourcePath.mid(root.size() + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!parts.isEmpty())
        parts.removeLast();  // the file's own name
    parts.removeAll(QStringLiteral("."));
    parts.removeAll(QStringLiteral(".."));
    return parts;
}

QString TargetName(const QString& workspaceName)
{
    QString name = DisplayText(workspaceName);
    if (name.startsWith(QLatin1Char('.')))
        name[0] = QLatin1Char('_');
    return name;
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
