#include "grid/DBGridHeader.h"

#include "ado/TDataSet.h"
#include "grid/DBGrid.h"

#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include <algorithm>

TDBGridHeader::TDBGridHeader(Qt::Orientation orientation, TDBGrid* grid) : QHeaderView(orientation, grid), m_grid(grid)
{
    setSectionsClickable(false);
    setHighlightSections(false);
    setSectionsMovable(false);
    if (orientation == Qt::Horizontal) {
        connect(this, &QHeaderView::sectionResized, this, [this] {
            if (m_leftDown)
                m_resizedDuringPress = true;
        });
    }
}

QSize TDBGridHeader::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    if (orientation() == Qt::Vertical)
        size.setWidth(IndicatorWidth);
    return size;
}

void TDBGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    // The header leaves the painter clipped to its (here empty) text area.
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (orientation() != Qt::Vertical)
        return;
    TDataSet* dataSet = m_grid->DataSet();
    if (!dataSet || !dataSet->Active() || dataSet->currentIndex() != logicalIndex)
        return;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    const QPoint centre = rect.center();
    painter->setPen(Qt::black);
    if (dataSet->State() == dsEdit) {
        // An I-beam: the record is being edited.
        painter->drawLine(centre.x(), centre.y() - 4, centre.x(), centre.y() + 4);
        painter->drawLine(centre.x() - 2, centre.y() - 4, centre.x() + 2, centre.y() - 4);
        painter->drawLine(centre.x() - 2, centre.y() + 4, centre.x() + 2, centre.y() + 4);
    } else {
        QPainterPath triangle;
        triangle.moveTo(centre.x() - 2, centre.y() - 4);
        triangle.lineTo(centre.x() + 2, centre.y());
        triangle.lineTo(centre.x() - 2, centre.y() + 4);
        triangle.closeSubpath();
        painter->fillPath(triangle, Qt::black);
    }
    painter->restore();
}

int TDBGridHeader::resizeHandleAt(int x) const
{
    if (orientation() != Qt::Horizontal)
        return -1;
    int visual = visualIndexAt(x);
    if (visual < 0)
        return -1;
    const int logical = logicalIndex(visual);
    const int start = sectionViewportPosition(logical);
    const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
    int handle = -1;
    if (x < start + grip) {
        while (visual > 0) {
            const int previous = logicalIndex(--visual);
            if (!isSectionHidden(previous)) {
                handle = previous;
                break;
            }
        }
    } else if (x > start + sectionSize(logical) - grip) {
        handle = logical;
    }
    if (handle >= 0 && sectionResizeMode(handle) != QHeaderView::Interactive)
        return -1;
    return handle;
}

void TDBGridHeader::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        m_leftDown = true;
        m_pressOnHandle = resizeHandleAt(pos.x()) >= 0;
        m_resizedDuringPress = false;
    }
    if (m_grid->fixedAreaPress(viewport(), event))
        return;
    if (event->button() != Qt::LeftButton)
        return;
    if (orientation() == Qt::Vertical) {
        // A press on the indicator moves to that record.
        const int record = logicalIndexAt(pos);
        if (record >= 0 && m_grid->model()) {
            const int column = std::max(m_grid->SelectedIndex(), 0);
            m_grid->setCurrentIndex(m_grid->model()->index(record, column));
        }
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void TDBGridHeader::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A second press, not the header's fit-to-contents on a border.
    mousePressEvent(event);
}

void TDBGridHeader::mouseReleaseEvent(QMouseEvent* event)
{
    const bool endsResize = m_pressOnHandle || m_resizedDuringPress;
    if (event->button() == Qt::LeftButton) {
        m_leftDown = false;
        m_pressOnHandle = false;
        m_resizedDuringPress = false;
    }
    if (m_grid->fixedAreaRelease(viewport(), event))
        return;
    if (orientation() == Qt::Horizontal && event->button() == Qt::LeftButton)
        QHeaderView::mouseReleaseEvent(event);
    if (!endsResize)
        m_grid->dispatchClick(event->button(), viewport()->mapTo(m_grid, event->position().toPoint()));
}

void TDBGridHeader::contextMenuEvent(QContextMenuEvent* event)
{
    // Context-menu requests over the title row or the indicator are the grid's.
    QContextMenuEvent forwarded(event->reason(), viewport()->mapTo(m_grid, event->pos()), event->globalPos(),
                                event->modifiers());
    m_grid->contextMenuEvent(&forwarded);
    event->setAccepted(forwarded.isAccepted());
}
