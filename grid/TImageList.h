#pragma once

#include <QObject>
#include <QPixmap>
#include <QVector>

// A list of images of one size, referred to by index.
class TImageList : public QObject {
    Q_OBJECT
public:
    explicit TImageList(int width = 16, int height = 16, QObject* parent = nullptr);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int Count() const { return int(m_images.size()); }

    // Adds an image, scaled to the list's size when it has another; returns its index.
    int Add(const QPixmap& image);
    void Clear() { m_images.clear(); }

    // Makes bitmap a white image of the list's size with image `index` drawn
    // on it; an index outside the list leaves it white.
    void GetBitmap(int index, QPixmap& bitmap) const;

private:
    int m_width;
    int m_height;
    QVector<QPixmap> m_images;
};
