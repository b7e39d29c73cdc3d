#pragma once

#include <QAbstractTableModel>

class TDBGrid;

// The grid's rows and columns as an item model: row r is the record at
// position r of the dataset's current order, column c is the grid's column c.
// Values are read from the dataset when asked for; nothing is copied. The row
// count is taken when the rows are reset, so that the view and the model
// agree between a change of the dataset and its notification.
class TDBGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDBGridModel(TDBGrid* grid);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Re-reads the row and column counts.
    void resetAll();
    // Row count unchanged, contents changed (re-sorted, values changed).
    void rowsChanged();
    void rowChanged(int row);
    void columnTitleChanged(int column);

private:
    int currentRecordCount() const;

    TDBGrid* m_grid;
    int m_rowCount = 0;
    int m_columnCount = 0;
};
