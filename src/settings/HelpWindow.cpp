#include "HelpWindow.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace snapmend {

HelpWindow::HelpWindow(const QString& helpFile, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Snapmend Help"));
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(true);
    // The file's name does not say HTML, so the type is given.
    m_browser->setSource(QUrl::fromLocalFile(helpFile), QTextDocument::HtmlResource);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(640, 560);
}

}  // namespace snapmend
