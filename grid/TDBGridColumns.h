#pragma once

#include "grid/TColumn.h"

#include <memory>
#include <vector>

class TDBGrid;

// The ordered columns of a data grid. A collection that nobody filled is
// rebuilt from the dataset's fields each time the dataset opens; one whose
// columns were added through Add keeps them.
class TDBGridColumns {
public:
    explicit TDBGridColumns(TDBGrid* grid) : m_grid(grid) {}

    TDBGrid* Grid() const { return m_grid; }
    int Count() const { return int(m_columns.size()); }
    TColumn* Items(int index) const { return m_columns.at(std::size_t(index)).get(); }
    TColumn* operator[](int index) const { return Items(index); }
    int IndexOf(const TColumn* column) const;

    // Adds a column at the end; from then on the columns are not rebuilt.
    TColumn* Add();
    // Removes the owner's columns; from then on the columns follow the fields again.
    void Clear();
    bool IsCustomized() const { return m_customized; }

    auto begin() const { return m_columns.begin(); }
    auto end() const { return m_columns.end(); }

private:
    friend class TDBGrid;
    TColumn* append();
    void removeAll();

    TDBGrid* m_grid;
    std::vector<std::unique_ptr<TColumn>> m_columns;
    bool m_customized = false;
};
