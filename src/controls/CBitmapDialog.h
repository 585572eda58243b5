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
    // -1 means none (the window is never reshaped). Returns 0 when done (also
    // when the resource is missing: the dialog then paints plainly), 1 when the
    // bitmap's size cannot be read.
    int SetBackgroundBitmap(int bitmapId, long long transparentColor = -1);
    // The same with an image instead of a resource id.
    int SetBackgroundImage(const QImage& image);

    const QImage& BackgroundBitmap() const { return m_background; }

    // The whole background of a client area of `size`, composed off-screen:
    // the dialog colour, then the bitmap tiled from the top-left.
    QImage ComposeBackground(const QSize& size) const;
    // The part `area` of that background.
    QImage ComposeBackgroundArea(const QSize& size, const QRect& area) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage m_background;
};

}  // namespace snapmend
