#include "app/ActionImages.h"

#include "grid/TImageList.h"

#include <QIcon>
#include <QPixmap>

namespace {
QString resourcePath(int index) { return QStringLiteral(":/icons/image%1.png").arg(index); }
} // namespace

TImageList* ActionImages::createImageList(QObject* owner)
{
    auto* images = new TImageList(32, 32, owner);
    for (int i = 0; i < Count; ++i)
        images->Add(QPixmap(resourcePath(i)));
    return images;
}

QIcon ActionImages::icon(int index)
{
    return QIcon(resourcePath(index));
}
