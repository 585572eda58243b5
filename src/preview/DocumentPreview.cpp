#include "DocumentPreview.h"

#include <QFileInfo>
#include <algorithm>
#include <memory>
#include <poppler-qt6.h>

#include "DriveRecord.h"
#include "FileSystem.h"
#include "PhotoPreview.h"
#include "WorkspaceFile.h"

namespace snapmend {
namespace {

// A PDF larger than this is not previewed: the whole file is read into memory.
constexpr qint64 kLargestPreviewedPdf = 64ll << 20;
constexpr double kPointsPerInch = 72.0;

// Up to `limit` bytes from the start of the regular file at `path`; `size`
// gets its size. Nothing when it is not a regular file reached without a link.
std::optional<QByteArray> ReadHead(const QString& path, qint64 limit, qint64& size)
{
    UniqueFd fd = OpenWorkspaceFile(path);  // any name bytes and depth, no link followed
    if (!fd.valid())
        return std::nullopt;
    const std::optional<FileStatus> status = StatusOf(fd.get());
    if (!status || status->kind != FileKind::Regular)
        return std::nullopt;
    size = static_cast<qint64>(status->size);
    QByteArray bytes(static_cast<qsizetype>(std::min(size, limit)), Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ReadSome(fd.get(), bytes.data() + filled, static_cast<size_t>(bytes.size() - filled));
        if (got <= 0)
            break;
        filled += got;
    }
    bytes.truncate(filled);
    return bytes;
}

bool IsPdfName(const QString& path) { return path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive); }

// The first page of the PDF in `bytes`, fitted into `bounds`; null when it cannot be rendered.
QImage RenderFirstPage(const QByteArray& bytes, const QSize& bounds)
{
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(bytes);
    if (!document || document->isLocked() || document->numPages() < 1)
        return {};
    std::unique_ptr<Poppler::Page> page = document->page(0);
    if (!page)
        return {};
    const QSizeF points = page->pageSizeF();
    if (points.width() <= 0 || points.height() <= 0)
        return {};
    const double dpi = std::clamp(std::min(bounds.width() / points.width(), bounds.height() / points.height()) *
                                      kPointsPerInch,
                                  10.0, 200.0);
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    return page->renderToImage(dpi, dpi);
}

PreviewContent NothingToShow(const QString& name, qint64 size, const QString& why)
{
    PreviewContent content;
    content.caption = QStringLiteral("%1: %2").arg(name, why);
    if (size >= 0)
        content.caption += QStringLiteral(" (%1)").arg(FormatSize(size));
    content.caption += QLatin1Char('.');
    return content;
}

PreviewContent LoadDocument(const QString& path, const QSize& bounds)
{
    const QString name = QFileInfo(path).fileName();
    qint64 size = -1;
    const bool pdf = IsPdfName(path);
    const std::optional<QByteArray> head = ReadHead(path, pdf ? kLargestPreviewedPdf : kTextPreviewBytes, size);
    if (!head)
        return NothingToShow(name, size, QStringLiteral("this file cannot be read"));
    if (pdf) {
        if (size > kLargestPreviewedPdf)
            return NothingToShow(name, size, QStringLiteral("too large to preview"));
        PreviewContent content;
        content.picture = RenderFirstPage(*head, bounds);
        if (content.picture.isNull())
            return NothingToShow(name, size, QStringLiteral("this PDF cannot be shown"));
        content.kind = PreviewContent::Kind::Picture;
        content.caption = QStringLiteral("%1    first page    %2").arg(name, FormatSize(size));
        return content;
    }
    const std::optional<QString> text = TextPreviewOf(*head);
    if (!text)
        return NothingToShow(name, size, QStringLiteral("no preview for this kind of file"));
    PreviewContent content;
    content.kind = PreviewContent::Kind::Text;
    content.text = *text;
    content.caption = size > kTextPreviewBytes
                          ? QStringLiteral("%1    first %2 of %3").arg(name, FormatSize(head->size()), FormatSize(size))
                          : QStringLiteral("%1    %2").arg(name, FormatSize(size));
    return content;
}

}  // namespace

std::optional<QString> TextPreviewOf(const QByteArray& bytes)
{
    if (bytes.contains('\0'))
        return std::nullopt;
    QString text = QString::fromUtf8(bytes);
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n' && u != u'\t' && u != u'\r') || u == 0x7F)
            c = QChar(QChar::ReplacementCharacter);
    }
    return text;
}

PreviewContent LoadPreview(const QString& path, bool photo, const QSize& bounds, const QString& fallbackPicture)
{
    if (!photo)
        return LoadDocument(path, bounds);
    const PhotoPreview decoded = DecodePhotoPreview(path, bounds, fallbackPicture);
    PreviewContent content;
    content.kind = PreviewContent::Kind::Picture;
    content.picture = decoded.picture;
    content.caption = PreviewCaption(decoded);
    return content;
}

}  // namespace snapmend
