#include "grid/DBGridModel.h"
#include "qtcommon/IgnoredError.h"

#include "ado/TDataSet.h"
#include "grid/DBGrid.h"

TDBGridModel::TDBGridModel(TDBGrid* grid) : QAbstractTableModel(grid), m_grid(grid) {}

int TDBGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int TDBGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columnCount;
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    TDataSet* dataSet = m_grid->DataSet();
    if (!dataSet || index.row() >= dataSet->RecordCount() || index.column() >= m_grid->Columns().Count())
        return {};
    TField* field = m_grid->Columns()[index.column()]->Field();
    if (!field)
        return QString();
    try {
        return role == Qt::DisplayRole ? field->DisplayTextAt(index.row()) : field->TextAt(index.row());
    } catch (const std::exception&) {
        ignoreBecause("a field that cannot give its text shows an empty cell");
        return QString();
    }
}

bool TDBGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    if (!m_grid->storeEditText(index, value.toString()))
        return false;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return QString();
    if (section < 0 || section >= m_columnCount || section >= m_grid->Columns().Count())
        return {};
    return m_grid->Columns()[section]->Title()->Caption();
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (m_grid->cellEditable(index))
        flags |= Qt::ItemIsEditable;
    return flags;
}

int TDBGridModel::currentRecordCount() const
{
    TDataSet* dataSet = m_grid->DataSet();
    return dataSet && dataSet->Active() ? dataSet->RecordCount() : 0;
}

void TDBGridModel::resetAll()
{
    beginResetModel();
    m_rowCount = currentRecordCount();
    m_columnCount = m_grid->Columns().Count();
    endResetModel();
}

void TDBGridModel::rowsChanged()
{
    if (m_rowCount > 0 && m_columnCount > 0)
        emit dataChanged(index(0, 0), index(m_rowCount - 1, m_columnCount - 1), {Qt::DisplayRole, Qt::EditRole});
}

void TDBGridModel::rowChanged(int row)
{
    if (row >= 0 && row < m_rowCount && m_columnCount > 0)
        emit dataChanged(index(row, 0), index(row, m_columnCount - 1), {Qt::DisplayRole, Qt::EditRole});
}

void TDBGridModel::columnTitleChanged(int column)
{
    if (column >= 0 && column < m_columnCount)
        emit headerDataChanged(Qt::Horizontal, column, column);
}
