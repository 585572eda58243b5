#pragma once
#include <QImage>
#include <QString>
#include <QtGlobal>

namespace snapmend {

// The data of one row of the other-files list.
struct ResultItem {
    QString fileName;   // last path component, for display (bytes that are not text show as U+FFFD)
    quint64 size = 0;   // full 64-bit byte count; 0 when it could not be read
    QString extension;  // text after the last dot of the file name, case kept; empty without a dot
    QString fullPath;   // the file's stored path in the workspace (WorkspaceFile.h): the row's identity
};

// A finished result as the harvest hands it to the lists.
struct FoundPhoto {
    QString path;
    QImage thumbnail;
};
struct FoundFile {
    QString path;
    quint64 size = 0;
};

// The text after the last '/', else empty.
QString FileNameOfPath(const QString& path);

// The text after the last dot of the file name, without the dot and with its
// case kept; empty when the name has no dot.
QString ExtensionOfPath(const QString& path);

// True when the file name's extension is one of .bmp .gif .jpg .jpeg .tiff
// .tif .png, compared case-insensitively.
bool IsPhotoPath(const QString& path);

// Builds the record of a file from its path and size.
ResultItem MakeResultItem(const QString& path, quint64 size);

// Column 0 compares fileName, 1 size, 2 extension (names byte-wise on their
// 8-bit encoding). Returns <0, 0 or >0; never overflows.
int CompareResultItems(const ResultItem& a, const ResultItem& b, int column);

}  // namespace snapmend
