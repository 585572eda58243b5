#pragma once
#include <QDialog>
#include <QImage>
#include <QString>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QStackedWidget;

namespace snapmend {

struct PreviewContent;

// A window that shows one result at a time, of a list the user can step
// through with Previous and Next (or the arrow and page keys): a photo or a
// PDF's first page, fitted into the window or at 100 %, or the head of a text
// file; its name and sizes underneath. Each result is loaded on a pool
// thread; the window shows "Loading..." until it arrives. Escape closes it;
// it deletes itself when closed.
class PhotoPreviewWindow : public QDialog {
    Q_OBJECT
public:
    struct Item {
        QString path;
        bool photo = true;  // a photo of the thumbnail list, else another file
    };
    PhotoPreviewWindow(std::vector<Item> items, int current, const QString& fallbackPicture,
                       QWidget* parent = nullptr);

    // True once the current result (or the fallback picture) is shown.
    bool Ready() const { return m_ready; }
    int Current() const { return m_current; }
    void ShowNext();
    void ShowPrevious();
    // 100 % (true) or fitted into the window (false).
    void SetActualSize(bool actual);

signals:
    void shown();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Load(int index);
    void Show(const PreviewContent& content, int load);
    void ShowPicture();
    void UpdateButtons();

    std::vector<Item> m_items;
    int m_current = 0;
    int m_load = 0;  // counts loads, so that a late result of an earlier one is dropped
    QString m_fallbackPicture;
    QImage m_image;
    bool m_actualSize = false;
    bool m_ready = false;
    QStackedWidget* m_pages = nullptr;
    QScrollArea* m_scroll = nullptr;
    QLabel* m_picture = nullptr;
    QPlainTextEdit* m_text = nullptr;
    QLabel* m_caption = nullptr;
    QPushButton* m_previous = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_fit = nullptr;
    QPushButton* m_actual = nullptr;
};

}  // namespace snapmend
