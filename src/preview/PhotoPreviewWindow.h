#pragma once
#include <QDialog>
#include <QString>

class QLabel;

namespace snapmend {

struct PhotoPreview;

// A window meant to be shown maximized, showing one photo fitted into the screen, with its
// name, pixel size and file size underneath. The photo is decoded on a pool
// thread; the window shows "Loading..." until it arrives. Escape closes it;
// it deletes itself when closed.
class PhotoPreviewWindow : public QDialog {
    Q_OBJECT
public:
    PhotoPreviewWindow(const QString& path, const QString& fallbackPicture, QWidget* parent = nullptr);

    // True once the decoded photo (or the fallback picture) is shown.
    bool Ready() const { return m_ready; }

signals:
    void shown();

private:
    void Show(const PhotoPreview& preview);

    QLabel* m_picture = nullptr;
    QLabel* m_caption = nullptr;
    bool m_ready = false;
};

}  // namespace snapmend
