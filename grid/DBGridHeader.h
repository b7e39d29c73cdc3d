#pragma once

#include <QHeaderView>

class TDBGrid;

// The title row (horizontal) or the row indicator (vertical) of a data grid.
// Mouse presses and releases go to the grid first, which notifies its
// handlers and decides whether the header's own handling sees them. The
// indicator marks the current record: a triangle while browsing, a bar while
// it is being edited.
class TDBGridHeader : public QHeaderView {
    Q_OBJECT
public:
    static constexpr int IndicatorWidth = 12;

    TDBGridHeader(Qt::Orientation orientation, TDBGrid* grid);

    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The section whose border lies under x, as the header's own resizing finds it; -1 for none.
    int resizeHandleAt(int x) const;

    TDBGrid* m_grid;
    bool m_pressOnHandle = false;
    bool m_resizedDuringPress = false;
    bool m_leftDown = false;
};
