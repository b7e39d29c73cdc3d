#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

class TDBGrid;

// Paints data cells through the grid (default painting, then its paint hook)
// and provides the in-place editor.
class TDBGridCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TDBGridCellDelegate(TDBGrid* grid);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

    // The in-place editor while one is open.
    QWidget* openEditor() const { return m_editor; }

private:
    TDBGrid* m_grid;
    mutable QPointer<QWidget> m_editor;
};
