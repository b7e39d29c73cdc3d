#include "grid/LiveEditDelegate.h"

#include <QLineEdit>

QWidget* LiveEditDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const
{
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        auto* self = const_cast<LiveEditDelegate*>(this);
        connect(line, &QLineEdit::textChanged, self, [self, line] { emit self->commitData(line); });
    }
    return editor;
}
