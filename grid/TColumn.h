#pragma once

#include "grid/TColumnTitle.h"

#include <QString>

class TDBGrid;
class TDBGridColumns;
class TField;

// One column of a data grid, bound by name to a field of the grid's dataset.
// Width and visibility are the column's own: a hidden column keeps its width.
class TColumn {
public:
    explicit TColumn(TDBGridColumns* collection);
    TColumn(const TColumn&) = delete;
    TColumn& operator=(const TColumn&) = delete;

    TDBGrid* Grid() const;
    int Index() const;

    const QString& FieldName() const { return m_fieldName; }
    void setFieldName(const QString& name);
    // The field of that name in the grid's open dataset (letter case ignored);
    // nullptr when there is none.
    TField* Field() const;

    TColumnTitle* Title() { return &m_title; }
    const TColumnTitle* Title() const { return &m_title; }

    bool Visible() const { return m_visible; }
    void setVisible(bool visible);
    // Pixels; negative widths are taken as 0.
    int Width() const { return m_width; }
    void setWidth(int width);

private:
    friend class TColumnTitle;
    friend class TDBGrid;
    void changed();
    // Width from the user's dragging, already shown.
    void takeShownWidth(int width) { m_width = width; }

    TDBGridColumns* m_collection;
    QString m_fieldName;
    TColumnTitle m_title;
    bool m_visible = true;
    int m_width = 64;
};
