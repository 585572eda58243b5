#include "HelpWindow.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace snapmend {

HelpWindow::HelpWindow(const QString& helpFile, const HelpFacts& facts, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Snapmend Help"));
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(true);
    m_browser->setHtml(ReadHelpPage(helpFile, facts));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(640, 560);
}

}  // namespace snapmend
