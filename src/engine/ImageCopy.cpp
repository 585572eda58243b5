#include "ImageCopy.h"

#include <QFileInfo>

#include "FileSystem.h"
#include "Paths.h"
#include "ScanRun.h"

namespace snapmend {
namespace {

const QString kScanStatusWords = QStringLiteral("Analyzing disk, please wait");
const QString kCopyStatusWords = QStringLiteral("Copying the disk to an image file, please wait");
// Enough of the identity's content hash to tell disks apart in one folder.
constexpr int kIdentityDigits = 8;

bool TakenByOtherThanAFile(const QString& path)
{
    const std::optional<FileStatus> status = StatusOfEntry(path);
    return status && status->kind != FileKind::Regular;
}

}  // namespace

ImageCopyNames ImageCopyNamesFor(const QString& device, const QString& identity)
{
    QString stem = QFileInfo(device).fileName();
    if (stem.isEmpty() || stem.startsWith(QLatin1Char('.')))
        stem = QStringLiteral("disk") + stem;
    if (!identity.isEmpty())
        stem += QLatin1Char('-') + identity.right(kIdentityDigits);
    return {stem + QStringLiteral(".img"), stem + QStringLiteral(".map")};
}

std::optional<QString> ImageCopyTargetProblem(const QString& folder, const ImageCopyNames& names)
{
    const QString image = JoinPath(folder, names.image);
    const QString map = JoinPath(folder, names.map);
    if (TakenByOtherThanAFile(image) || TakenByOtherThanAFile(map))
        return QStringLiteral("\"%1\" or \"%2\" is already there and is not a file. Please choose another folder.")
            .arg(image, map);
    if (StatusOfEntry(image) && !StatusOfEntry(map))
        return QStringLiteral("The image file \"%1\" is already there, without the map file that tells what it "
                              "holds. Please choose another folder.")
            .arg(image);
    return std::nullopt;
}

QString ImageOnCopiedDiskText(const QString& folder, const QString& disk)
{
    return QStringLiteral("The folder \"%1\" is on the disk being copied (%2). An image file written there would "
                          "overwrite the deleted files that are still to be found.\n\nPlease choose a folder on "
                          "another disk.")
        .arg(folder, disk);
}

QString ImageCopyStatusText(const QString& scanStatus)
{
    QString text = scanStatus;
    if (text.startsWith(kScanStatusWords))
        text.replace(0, kScanStatusWords.size(), kCopyStatusWords);
    return text;
}

QString ImageCopiedQuestion(const QString& image, bool someUnreadable, quint64 unreadableBytes)
{
    QString text = QStringLiteral("The disk has been copied to \"%1\".").arg(image);
    if (someUnreadable)
        text += QLatin1Char(' ') + UnreadableAreasText(unreadableBytes);
    return text + QStringLiteral("\n\nScan the image file now?");
}

}  // namespace snapmend
