#include "grid/TColumn.h"

#include "ado/TDataSet.h"
#include "grid/DBGrid.h"
#include "grid/TDBGridColumns.h"

#include <algorithm>

TColumn::TColumn(TDBGridColumns* collection) : m_collection(collection), m_title(this) {}

TDBGrid* TColumn::Grid() const
{
    return m_collection->Grid();
}

int TColumn::Index() const
{
    return m_collection->IndexOf(this);
}

void TColumn::setFieldName(const QString& name)
{
    if (name == m_fieldName)
        return;
    m_fieldName = name;
    changed();
}

TField* TColumn::Field() const
{
    TDataSet* dataSet = Grid() ? Grid()->DataSet() : nullptr;
    if (!dataSet || !dataSet->Active() || m_fieldName.isEmpty())
        return nullptr;
    return dataSet->FindField(m_fieldName);
}

void TColumn::setVisible(bool visible)
{
    if (visible == m_visible)
        return;
    m_visible = visible;
    changed();
}

void TColumn::setWidth(int width)
{
    width = std::max(width, 0);
    if (width == m_width)
        return;
    m_width = width;
    changed();
}

void TColumn::changed()
{
    if (TDBGrid* grid = Grid())
        grid->columnChanged(this);
}
