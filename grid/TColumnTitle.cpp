#include "grid/TColumnTitle.h"

#include "grid/TColumn.h"

void TColumnTitle::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    m_column->changed();
}
