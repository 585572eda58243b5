#include "ResultItem.h"

#include <QByteArray>
#include <cstring>

#include "WorkspaceFile.h"

namespace snapmend {

QString FileNameOfPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.mid(slash + 1);
}

namespace {

// The last dot of the path's last component, or -1: a dot in a folder name
// (~/.local/share/...) never makes an extension.
qsizetype ExtensionDot(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > path.lastIndexOf(QLatin1Char('/')) ? dot : -1;
}

}  // namespace

QString ExtensionOfPath(const QString& path)
{
    const qsizetype dot = ExtensionDot(path);
    return dot < 0 ? QString() : path.mid(dot + 1);
}

bool IsPhotoPath(const QString& path)
{
    const qsizetype dot = ExtensionDot(path);
    if (dot < 0)
        return false;
    const QString ext = path.mid(dot).toLower();
    static const char* const kPhotoExtensions[] = {".bmp", ".gif", ".jpg", ".jpeg", ".tiff", ".tif", ".png"};
    for (const char* photo : kPhotoExtensions)
        if (ext == QLatin1String(photo))
            return true;
    return false;
}

ResultItem MakeResultItem(const QString& path, quint64 size)
{
    // The path stays the row's identity; what the row shows is text.
    return ResultItem{DisplayText(FileNameOfPath(path)), size, DisplayText(ExtensionOfPath(path)), path};
}

namespace {

int CompareBytes(const QString& a, const QString& b)
{
    const QByteArray x = a.toLocal8Bit();
    const QByteArray y = b.toLocal8Bit();
    const int c = std::strcmp(x.constData(), y.constData());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int CompareResultItems(const ResultItem& a, const ResultItem& b, int column)
{
    switch (column) {
    case 0: return CompareBytes(a.fileName, b.fileName);
    case 1: return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
    case 2: return CompareBytes(a.extension, b.extension);
    default: return 0;
    }
}

}  // namespace snapmend
