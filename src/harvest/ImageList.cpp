#include "ImageList.h"

namespace snapmend {

int ImageList::Add(const QImage& image)
{
    if (image.size() == m_cellSize)
        m_images.push_back(image);
    else
        m_images.push_back(image.scaled(m_cellSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return GetImageCount() - 1;
}

}  // namespace snapmend
