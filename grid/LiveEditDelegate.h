#pragma once

#include <QStyledItemDelegate>

// An item delegate whose line editor writes its text into the cell with
// every change, so that the cell holds what was typed even when the editor
// is never closed (a dialog closed while a cell is being edited).
class LiveEditDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
};
