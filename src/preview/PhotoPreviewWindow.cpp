#include "PhotoPreviewWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QThreadPool>
#include <QVBoxLayout>

#include "PhotoPreview.h"

namespace snapmend {
namespace {

constexpr int kMargin = 8;
// What a window manager's title bar may take of the screen's height.
constexpr int kTitleBarAllowance = 40;

}  // namespace

PhotoPreviewWindow::PhotoPreviewWindow(const QString& path, const QString& fallbackPicture, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    const QString name = QFileInfo(path).fileName();
    setWindowTitle(QStringLiteral("Snapmend - %1").arg(name));
    setStyleSheet(QStringLiteral("background-color: black; color: white;"));

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("previewPicture"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_caption = new QLabel(QStringLiteral("Loading %1...").arg(name), this);
    m_caption->setObjectName(QStringLiteral("previewCaption"));
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->addWidget(m_picture, 1);
    layout->addWidget(m_caption);

    // The whole available screen; the photo gets what the caption leaves.
    const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    setGeometry(area);
    const int captionHeight = m_caption->sizeHint().height() + layout->spacing();
    const QSize bounds(area.width() - 2 * kMargin, area.height() - 2 * kMargin - captionHeight - kTitleBarAllowance);

    // Decoded off the UI thread; a window closed meanwhile just drops the result.
    QPointer<PhotoPreviewWindow> self(this);
    QThreadPool::globalInstance()->start([self, path, bounds, fallbackPicture] {
        PhotoPreview preview = DecodePhotoPreview(path, bounds, fallbackPicture);
        QMetaObject::invokeMethod(
            qApp, [self, preview = std::move(preview)] {
                if (self)
                    self->Show(preview);
            },
            Qt::QueuedConnection);
    });
}

void PhotoPreviewWindow::Show(const PhotoPreview& preview)
{
    m_picture->setPixmap(QPixmap::fromImage(preview.picture));
    m_caption->setText(PreviewCaption(preview));
    m_ready = true;
    emit shown();
}

}  // namespace snapmend
