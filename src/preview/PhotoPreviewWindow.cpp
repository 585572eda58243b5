#include "PhotoPreviewWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QThreadPool>
#include <QVBoxLayout>

#include "DocumentPreview.h"
#include "PhotoPreview.h"

namespace snapmend {
namespace {

constexpr int kMargin = 8;
// The window takes this share of the screen's width and height.
constexpr double kScreenShare = 0.85;
// The largest photo kept for 100 %: a larger one is decoded at this size.
const QSize kLargestPicture(6000, 6000);

}  // namespace

PhotoPreviewWindow::PhotoPreviewWindow(std::vector<Item> items, int current, const QString& fallbackPicture,
                                       QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      m_items(std::move(items)),
      m_fallbackPicture(fallbackPicture)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setStyleSheet(QStringLiteral("QDialog, QScrollArea, QLabel { background-color: black; color: white; }"));

    m_picture = new QLabel;
    m_picture->setObjectName(QStringLiteral("previewPicture"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_scroll = new QScrollArea;
    m_scroll->setWidget(m_picture);
    m_scroll->setWidgetResizable(true);
    m_scroll->setAlignment(Qt::AlignCenter);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_text = new QPlainTextEdit;
    m_text->setObjectName(QStringLiteral("previewText"));
    m_text->setReadOnly(true);
    m_text->setStyleSheet(QStringLiteral("background-color: white; color: black;"));
    m_pages = new QStackedWidget;
    m_pages->addWidget(m_scroll);
    m_pages->addWidget(m_text);

    m_caption = new QLabel;
    m_caption->setObjectName(QStringLiteral("previewCaption"));
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_previous = new QPushButton(QStringLiteral("< Previous"));
    m_next = new QPushButton(QStringLiteral("Next >"));
    m_fit = new QPushButton(QStringLiteral("Fit"));
    m_actual = new QPushButton(QStringLiteral("100 %"));
    for (QPushButton* button : {m_previous, m_next, m_fit, m_actual}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
    }
    m_previous->setObjectName(QStringLiteral("previewPrevious"));
    m_next->setObjectName(QStringLiteral("previewNext"));
    m_fit->setObjectName(QStringLiteral("previewFit"));
    m_actual->setObjectName(QStringLiteral("previewActualSize"));
    connect(m_previous, &QPushButton::clicked, this, &PhotoPreviewWindow::ShowPrevious);
    connect(m_next, &QPushButton::clicked, this, &PhotoPreviewWindow::ShowNext);
    connect(m_fit, &QPushButton::clicked, this, [this] { SetActualSize(false); });
    connect(m_actual, &QPushButton::clicked, this, [this] { SetActualSize(true); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_previous);
    buttons->addWidget(m_next);
    buttons->addWidget(m_caption, 1);
    buttons->addWidget(m_fit);
    buttons->addWidget(m_actual);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);

    // Most of the screen, centred on it.
    const QScreen* screen = parent ? parent->screen() : QApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    const QSize size(static_cast<int>(area.width() * kScreenShare), static_cast<int>(area.height() * kScreenShare));
    setGeometry(QRect(area.center() - QPoint(size.width() / 2, size.height() / 2), size));

    Load(std::clamp(current, 0, std::max(0, static_cast<int>(m_items.size()) - 1)));
}

void PhotoPreviewWindow::Load(int index)
{
    if (index < 0 || index >= static_cast<int>(m_items.size()))
        return;
    m_current = index;
    m_ready = false;
    const Item item = m_items[static_cast<size_t>(index)];
    const QString name = QFileInfo(item.path).fileName();
    setWindowTitle(QStringLiteral("Snapmend - %1").arg(name));
    m_caption->setText(QStringLiteral("Loading %1...").arg(name));
    UpdateButtons();

    // Loaded off the UI thread; a window closed or moved on meanwhile just drops the result.
    const int load = ++m_load;
    // A document's page is drawn for the screen's own pixels, so that it stays sharp when the screen scales.
    const QSize bounds =
        item.photo ? kLargestPicture : screen()->availableGeometry().size() * screen()->devicePixelRatio();
    QPointer<PhotoPreviewWindow> self(this);
    QThreadPool::globalInstance()->start([self, item, bounds, fallback = m_fallbackPicture, load] {
        PreviewContent content = LoadPreview(item.path, item.photo, bounds, fallback);
        QMetaObject::invokeMethod(
            qApp, [self, content = std::move(content), load] {
                if (self)
                    self->Show(content, load);
            },
            Qt::QueuedConnection);
    });
}

void PhotoPreviewWindow::Show(const PreviewContent& content, int load)
{
    if (load != m_load)
        return;
    m_image = content.picture;
    if (content.kind == PreviewContent::Kind::Text) {
        m_text->setPlainText(content.text);
        m_pages->setCurrentWidget(m_text);
    } else {
        m_pages->setCurrentWidget(m_scroll);
        ShowPicture();
    }
    m_caption->setText(content.caption);
    m_ready = true;
    UpdateButtons();
    emit shown();
}

void PhotoPreviewWindow::ShowPicture()
{
    if (m_image.isNull()) {
        m_picture->setPixmap(QPixmap());
        return;
    }
    // Fitted: scaled into the visible area, never enlarged. One picture pixel
    // is one pixel of the screen, also when the screen scales the window.
    const qreal ratio = devicePixelRatioF();
    const QSize fitted = FitPreviewSize(m_image.size(), m_scroll->viewport()->size() * ratio);
    const QImage shown = m_actualSize || fitted == m_image.size()
                             ? m_image
                             : m_image.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPixmap pixmap = QPixmap::fromImage(shown);
    pixmap.setDevicePixelRatio(ratio);
    m_picture->setPixmap(pixmap);
}

void PhotoPreviewWindow::UpdateButtons()
{
    m_previous->setEnabled(m_current > 0);
    m_next->setEnabled(m_current + 1 < static_cast<int>(m_items.size()));
    const bool picture = m_pages->currentWidget() == m_scroll && !m_image.isNull();
    m_fit->setEnabled(picture && m_actualSize);
    m_actual->setEnabled(picture && !m_actualSize);
}

void PhotoPreviewWindow::ShowNext() { Load(m_current + 1); }

void PhotoPreviewWindow::ShowPrevious() { Load(m_current - 1); }

void PhotoPreviewWindow::SetActualSize(bool actual)
{
    m_actualSize = actual;
    m_scroll->setWidgetResizable(!actual);
    ShowPicture();
    if (actual)
        m_picture->adjustSize();
    UpdateButtons();
}

void PhotoPreviewWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_PageUp:
        ShowPrevious();
        return;
    case Qt::Key_Right:
    case Qt::Key_PageDown:
    case Qt::Key_Space:
        ShowNext();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void PhotoPreviewWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (!m_actualSize)
        ShowPicture();
}

}  // namespace snapmend
