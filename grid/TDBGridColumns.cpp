#include "grid/TDBGridColumns.h"

#include "grid/DBGrid.h"

int TDBGridColumns::IndexOf(const TColumn* column) const
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].get() == column)
            return int(i);
    }
    return -1;
}

TColumn* TDBGridColumns::Add()
{
    m_customized = true;
    TColumn* column = append();
    m_grid->resetRows();
    return column;
}

void TDBGridColumns::Clear()
{
    m_customized = false;
    removeAll();
    // Back to columns from the fields, at once when the dataset is open.
    m_grid->dataSetLayoutChanged();
}

TColumn* TDBGridColumns::append()
{
    m_columns.push_back(std::make_unique<TColumn>(this));
    return m_columns.back().get();
}

void TDBGridColumns::removeAll()
{
    m_columns.clear();
}
