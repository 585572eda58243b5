#include "UiServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QSpacerItem>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QUrl>

#include "Ownership.h"
#include "PersonOpener.h"

namespace snapmend {
namespace {

// Room a window manager's title bar takes for its icon and buttons.
constexpr int kTitleBarButtonsWidth = 160;

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags)
{
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    // A path or a code in a message can be copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // A short message makes a narrow box whose title bar would cut the caption short.
    const int captionWidth =
        QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(caption) + kTitleBarButtonsWidth;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(),
                      0, 1, grid->columnCount());
    switch (flags & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    if ((flags & 0xF) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    if ((flags & 0xF) == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        const int answer = box.exec();
        return answer == QMessageBox::Yes ? IDYES : (answer == QMessageBox::No ? IDNO : IDCANCEL);
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

}  // namespace

int QtUiServices::MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags)
{
    if (QThread::currentThread() == qApp->thread())
        return ShowMessageBox(owner, text, caption, flags);
    // A worker's box is shown by the UI thread while the worker waits for the answer.
    int answer = IDOK;
    QPointer<QWidget> guardedOwner(owner);
    QMetaObject::invokeMethod(
        qApp, [&] { answer = ShowMessageBox(guardedOwner.data(), text, caption, flags); },
        Qt::BlockingQueuedConnection);
    return answer;
}

std::optional<QString> QtUiServices::BrowseForFolder(QWidget* owner, const QString& title,
                                                     const QString& startFolder)
{
    const QString folder = QFileDialog::getExistingDirectory(owner, title, startFolder);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

std::optional<QString> QtUiServices::BrowseForFile(QWidget* owner, const QString& title, const QString& startFolder,
                                                   const QString& filter)
{
    const QString file = QFileDialog::getOpenFileName(owner, title, startFolder, filter);
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

bool QtUiServices::OpenWithDefaultHandler(const QString& path)
{
    // The opener and what it starts (a file manager) run as the person, never as root.
    if (const std::optional<Account> person = InvokingPerson())
        return OpenAsPerson(path, *person);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace snapmend
