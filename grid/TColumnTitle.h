#pragma once

#include <QString>

class TColumn;
class TDBGrid;

// The title cell of a grid column.
class TColumnTitle {
public:
    explicit TColumnTitle(TColumn* column) : m_column(column) {}

    const QString& Caption() const { return m_caption; }
    void setCaption(const QString& caption);

private:
    friend class TDBGrid;
    TColumn* m_column;
    QString m_caption;
};
