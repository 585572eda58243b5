#pragma once
#include <QDialog>
#include <QImage>

namespace snapmend {

// Dialog whose background is a bitmap tiled from the top-left corner.
class CBitmapDialog : public QDialog {
    Q_OBJECT
public:
    explicit CBitmapDialog(QWidget* parent = nullptr);

    // Installs bitmap resource `bitmapId` as the background. `transparentColor`
    // -1 means none. Returns 0 when done (also when the resource is missing),
    // 1 when the bitmap's size cannot be read.
    int SetBackgroundBitmap(int bitmapId, long long transparentColor = -1);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_background;
};

}  // namespace snapmend
