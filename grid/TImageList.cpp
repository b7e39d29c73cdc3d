#include "grid/TImageList.h"

#include <QPainter>

TImageList::TImageList(int width, int height, QObject* parent)
    : QObject(parent), m_width(width), m_height(height)
{
}

int TImageList::Add(const QPixmap& image)
{
    if (image.size() == QSize(m_width, m_height))
        m_images.append(image);
    else
        m_images.append(image.scaled(m_width, m_height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return int(m_images.size()) - 1;
}

void TImageList::GetBitmap(int index, QPixmap& bitmap) const
{
    bitmap = QPixmap(m_width, m_height);
    bitmap.fill(Qt::white);
    if (index < 0 || index >= m_images.size())
        return;
    QPainter painter(&bitmap);
    painter.drawPixmap(0, 0, m_images[index]);
}
