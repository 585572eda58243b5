#pragma once
#include <QDialog>

#include "Help.h"

class QTextBrowser;

namespace snapmend {

// The program's help, shown in a window of its own: the HTML help file, with
// the facts of this installation filled in and its links working (a link inside the page scrolls to its topic, a web link
// opens in the desktop's browser). Escape closes it.
class HelpWindow : public QDialog {
    Q_OBJECT
public:
    HelpWindow(const QString& helpFile, const HelpFacts& facts, QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser = nullptr;
};

}  // namespace snapmend
