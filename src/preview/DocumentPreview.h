#pragma once
#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace snapmend {

// What the preview window shows of one result.
struct PreviewContent {
    enum class Kind { Picture, Text, Nothing };
    Kind kind = Kind::Nothing;
    QImage picture;   // a photo, or a document's first page
    QString text;     // the head of a text file
    QString caption;  // name, sizes, and what could not be shown
};

// How much of a text file the preview reads.
constexpr qint64 kTextPreviewBytes = 8 * 1024;

// The head of a text: the first `bytes` decoded as UTF-8 (invalid sequences
// replaced), control characters other than line breaks and tabs shown as
// U+FFFD; nothing when the head holds a NUL byte (not a text).
std::optional<QString> TextPreviewOf(const QByteArray& bytes);

// Loads what the preview shows of the result at `path`: for a photo, the
// photo decoded at most `bounds` large (the fallback picture when it cannot
// be decoded); for another file, the first page of a PDF fitted into
// `bounds`, or the head of a text file. Only a regular file is read, never
// through a link. Safe to call on any thread.
PreviewContent LoadPreview(const QString& path, bool photo, const QSize& bounds, const QString& fallbackPicture);

}  // namespace snapmend
