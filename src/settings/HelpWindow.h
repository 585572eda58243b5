#pragma once
#include <QDialog>

class QTextBrowser;

namespace snapmend {

// The program's help, shown in a window of its own: the HTML help file with
// its links working (a link inside the page scrolls to its topic, a web link
// opens in the desktop's browser). Escape closes it.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    HelpWindow(const QString& helpFile, QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser = nullptr;
};

}  // namespace snapmend
