#include "grid/DBGridCellDelegate.h"

#include "grid/DBGrid.h"

#include <QLineEdit>

TDBGridCellDelegate::TDBGridCellDelegate(TDBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

void TDBGridCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    m_grid->paintCell(painter, option, index);
}

QWidget* TDBGridCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const
{
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    m_editor = editor;
    return editor;
}

void TDBGridCellDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                               const QModelIndex&) const
{
    editor->setGeometry(option.rect);
}
