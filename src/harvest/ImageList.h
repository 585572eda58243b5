#pragma once
#include <QColor>
#include <QImage>
#include <QSize>
#include <vector>

namespace snapmend {

// A growable list of equally sized images on a background colour (the
// thumbnail list's pictures).
class ImageList {
public:
    ImageList() = default;
    ImageList(QSize cellSize, QColor background) : m_cellSize(cellSize), m_background(background) {}

    QSize CellSize() const { return m_cellSize; }
    QColor Background() const { return m_background; }
    void SetBkColor(QColor background) { m_background = background; }

    // Appends an image (scaled to the cell size if it differs); returns its index.
    int Add(const QImage& image);
    int GetImageCount() const { return static_cast<int>(m_images.size()); }
    const QImage& Image(int index) const { return m_images.at(static_cast<size_t>(index)); }
    void RemoveAll() { m_images.clear(); }

private:
    QSize m_cellSize;
    QColor m_background = Qt::white;
    std::vector<QImage> m_images;
};

}  // namespace snapmend
