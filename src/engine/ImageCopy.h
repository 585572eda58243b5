#pragma once
#include <QString>
#include <QtGlobal>
#include <optional>

namespace snapmend {

// The drive rows' context menu entry that copies the disk to an image file.
inline const QString kCopyToImageText = QStringLiteral("Copy to an image file...");

// Where a copy of a disk goes: an image file and its map file (the GNU
// ddrescue format, so either tool can go on with the copy) side by side.
struct ImageCopyNames {
    QString image;  // e.g. "sdb-1a2b3c4d.img"
    QString map;    // e.g. "sdb-1a2b3c4d.map"
};

// The names for a copy of `device` whose identity is `identity`: the same
// disk always gets the same names, so a stopped copy is continued.
ImageCopyNames ImageCopyNamesFor(const QString& device, const QString& identity);

// Why the copy cannot go into `folder` with `names` (an image without its map,
// or either name taken by something other than a regular file); nothing when it can.
std::optional<QString> ImageCopyTargetProblem(const QString& folder, const ImageCopyNames& names);

// The refusal of an image file on the disk being copied.
QString ImageOnCopiedDiskText(const QString& folder, const QString& disk);

// The status line while the engine copies: its scan status line with the copy's words.
QString ImageCopyStatusText(const QString& scanStatus);

// The question at the end of a copy: where it is, what could not be read, scan it now?
QString ImageCopiedQuestion(const QString& image, bool someUnreadable, quint64 unreadableBytes);

}  // namespace snapmend
