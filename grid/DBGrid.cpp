#include "grid/DBGrid.h"

#include "ado/TDataSet.h"
#include "ado/TDataSource.h"
#include "grid/DBGridCellDelegate.h"
#include "grid/DBGridHeader.h"
#include "grid/DBGridModel.h"
#include "qtcommon/DefaultErrorDisplay.h"
#include "qtcommon/IgnoredError.h"
#include "qtcommon/MessageBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {

TDBGrid::TExceptionHandler& exceptionHandler()
{
    static TDBGrid::TExceptionHandler handler;
    return handler;
}

} // namespace

TDBGrid::TDBGrid(QWidget* parent)
    : QTableView(parent),
      m_columns(this),
      m_model(new TDBGridModel(this)),
      m_delegate(new TDBGridCellDelegate(this)),
      m_titles(new TDBGridHeader(Qt::Horizontal, this)),
      m_indicator(new TDBGridHeader(Qt::Vertical, this))
{
    setHorizontalHeader(m_titles);
    setVerticalHeader(m_indicator);
    setModel(m_model);
    setItemDelegate(m_delegate);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setWordWrap(false);
    setSortingEnabled(false);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    // Every row has the same height, which keeps a million rows cheap.
    const int rowHeight = QFontMetrics(font()).height() + 4;
    m_indicator->setMinimumSectionSize(1);
    m_indicator->setDefaultSectionSize(rowHeight);
    m_indicator->setSectionResizeMode(QHeaderView::Fixed);
    m_titles->setMinimumSectionSize(0);
    m_titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(m_titles, &QHeaderView::sectionResized, this, [this](int logical, int, int newSize) {
        if (m_applyingColumns || logical < 0 || logical >= m_columns.Count() || isColumnHidden(logical))
            return;
        m_columns[logical]->takeShownWidth(newSize);
    });

    // The corner above the indicator belongs to the title row; it must not
    // select the whole grid.
    if (auto* corner = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly))
        corner->installEventFilter(this);

    setOptions(DefaultOptions);
}

TDBGrid::~TDBGrid()
{
    // The model reads the columns while it is torn down with the view.
    setModel(nullptr);
}

void TDBGrid::setDataSource(TDataSource* dataSource)
{
    if (dataSource == m_dataSource)
        return;
    if (m_dataSource)
        disconnect(m_dataSource, nullptr, this, nullptr);
    m_dataSource = dataSource;
    if (dataSource) {
        connect(dataSource, &TDataSource::activeChanged, this, &TDBGrid::linkActive);
        connect(dataSource, &TDataSource::layoutChanged, this, &TDBGrid::dataSetLayoutChanged);
        connect(dataSource, &TDataSource::dataChanged, this, &TDBGrid::dataSetRowsChanged);
        connect(dataSource, &TDataSource::recordChanged, this, &TDBGrid::dataSetRecordChanged);
        connect(dataSource, &TDataSource::currentMoved, this, &TDBGrid::dataSetCurrentMoved);
        connect(dataSource, &TDataSource::stateChanged, this, &TDBGrid::dataSetStateChanged);
        connect(dataSource, &QObject::destroyed, this, [this] { linkActive(false); });
    }
    TDataSet* dataSet = DataSet();
    linkActive(dataSet && dataSet->Active());
}

TDataSet* TDBGrid::DataSet() const
{
    return m_dataSource ? m_dataSource->DataSet() : nullptr;
}

void TDBGrid::setOptions(TDBGridOptions options)
{
    const TDBGridOptions old = m_options;
    m_options = options;
    if ((old & dgEditing) && !(options & dgEditing))
        closeOpenEditor();
    m_titles->setVisible(options & dgTitles);
    m_indicator->setVisible(options & dgIndicator);
    setShowGrid(options & (dgColLines | dgRowLines));
    setTabKeyNavigation(options & dgTabs);
    setSelectionBehavior((options & dgRowSelect) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    m_titles->setSectionResizeMode((options & dgColumnResize) ? QHeaderView::Interactive : QHeaderView::Fixed);
    viewport()->update();
}

void TDBGrid::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    if (readOnly)
        closeOpenEditor();
}

int TDBGrid::SelectedIndex() const
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.column() < m_columns.Count())
        return current.column();
    return firstVisibleColumn();
}

TColumn* TDBGrid::SelectedColumn() const
{
    const int index = SelectedIndex();
    return index >= 0 ? m_columns[index] : nullptr;
}

void TDBGrid::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    keepTopRowWhole();
}

void TDBGrid::updateGeometries()
{
    QTableView::updateGeometries();
    keepTopRowWhole();
}

// The view scrolls by rows, but at the end of its range it aligns the last
// row with the bottom edge, which cuts the top row (after a sort that moves
// the current record to the end, for one). The grid starts with a whole row
// there too; the rows that fit are all shown, with room to spare below.
void TDBGrid::keepTopRowWhole()
{
    const QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() <= 0 || bar->value() != bar->maximum())
        return;
    const int offset = m_indicator->offset();
    m_indicator->setOffsetToSectionPosition(bar->value());
    if (m_indicator->offset() != offset)
        viewport()->update();
}

int TDBGrid::firstVisibleColumn() const
{
    for (int i = 0; i < m_columns.Count(); ++i) {
        if (m_columns[i]->Visible())
            return i;
    }
    return m_columns.Count() > 0 ? 0 : -1;
}

TGridCoord TDBGrid::MouseCoord(int x, int y) const
{
    const QRect cells = viewport()->geometry();
    int column = -1;
    if ((m_options & dgIndicator) && m_indicator->isVisible() && x >= m_indicator->geometry().left() &&
        x <= m_indicator->geometry().right()) {
        column = 0;
    } else if (x >= cells.left() && x <= cells.right()) {
        const int logical = columnAt(x - cells.left());
        if (logical >= 0)
            column = logical + IndicatorOffset();
    }
    int row = -1;
    if ((m_options & dgTitles) && m_titles->isVisible() && y >= m_titles->geometry().top() &&
        y <= m_titles->geometry().bottom()) {
        row = 0;
    } else if (y >= cells.top() && y <= cells.bottom()) {
        const int record = rowAt(y - cells.top());
        if (record >= 0)
            row = record + TitleOffset();
    }
    if (column < 0 || row < 0)
        return {};
    return {column, row};
}

// --- handlers -------------------------------------------------------------

void TDBGrid::TitleClick(TColumn* column)
{
    if (OnTitleClick)
        OnTitleClick(column);
}

void TDBGrid::CellClick(TColumn* column)
{
    if (OnCellClick)
        OnCellClick(column);
}

void TDBGrid::DrawColumnCell(const QRect& rect, int dataCol, TColumn* column, TGridDrawState state)
{
    if (OnDrawColumnCell)
        OnDrawColumnCell(this, rect, dataCol, column, state);
}

bool TDBGrid::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
    return false;
}

bool TDBGrid::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
    return false;
}

void TDBGrid::setExceptionHandler(TExceptionHandler handler)
{
    exceptionHandler() = std::move(handler);
}

void TDBGrid::HandleException(const std::exception& error)
{
    if (const TExceptionHandler& handler = exceptionHandler()) {
        handler(error);
        return;
    }
    DefaultErrorDisplay::show(error);
}

// --- data source notifications --------------------------------------------

void TDBGrid::linkActive(bool active)
{
    closeOpenEditor();
    if (!m_columns.IsCustomized()) {
        if (active)
            rebuildColumns();
        else
            m_columns.removeAll();
    }
    resetRows();
}

void TDBGrid::dataSetLayoutChanged()
{
    TDataSet* dataSet = DataSet();
    linkActive(dataSet && dataSet->Active());
}

void TDBGrid::dataSetRowsChanged()
{
    TDataSet* dataSet = DataSet();
    const int records = dataSet && dataSet->Active() ? dataSet->RecordCount() : 0;
    if (records != m_model->rowCount()) {
        const int scrolledTo = verticalScrollBar()->value();
        resetRows();
        verticalScrollBar()->setValue(scrolledTo);
    } else {
        m_model->rowsChanged();
        syncCurrentCell();
    }
    m_indicator->viewport()->update();
}

void TDBGrid::dataSetRecordChanged()
{
    if (TDataSet* dataSet = DataSet())
        m_model->rowChanged(dataSet->currentIndex());
}

void TDBGrid::dataSetCurrentMoved()
{
    syncCurrentCell();
    m_indicator->viewport()->update();
}

void TDBGrid::dataSetStateChanged()
{
    m_indicator->viewport()->update();
    viewport()->update();
}

void TDBGrid::rebuildColumns()
{
    m_columns.removeAll();
    TDataSet* dataSet = DataSet();
    if (!dataSet || !dataSet->Active())
        return;
    for (int i = 0; i < dataSet->FieldCount(); ++i) {
        TField* field = dataSet->Fields(i);
        if (!field->Visible())
            continue;
        TColumn* column = m_columns.append();
        column->m_fieldName = field->FieldName();
        column->Title()->m_caption = field->DisplayLabel();
        column->m_width = defaultColumnWidth(column);
    }
}

int TDBGrid::defaultColumnWidth(const TColumn* column) const
{
    TField* field = column->Field();
    if (!field)
        return 64;
    const QFontMetrics cellMetrics(font());
    int width = field->DisplayWidth() * cellMetrics.horizontalAdvance(QLatin1Char('0')) + 4;
    if (m_options & dgTitles) {
        const QFontMetrics titleMetrics(m_titles->font());
        width = std::max(width, titleMetrics.horizontalAdvance(column->Title()->Caption()) + 8);
    }
    return width;
}

void TDBGrid::resetRows()
{
    m_model->resetAll();
    applyColumnsToView();
    syncCurrentCell();
}

void TDBGrid::applyColumnsToView()
{
    m_applyingColumns = true;
    for (int i = 0; i < m_columns.Count() && i < m_model->columnCount(); ++i) {
        TColumn* column = m_columns[i];
        if (column->Visible())
            setColumnHidden(i, false);
        m_titles->resizeSection(i, column->Width());
        if (!column->Visible())
            setColumnHidden(i, true);
    }
    m_applyingColumns = false;
}

void TDBGrid::columnChanged(TColumn* column)
{
    const int index = m_columns.IndexOf(column);
    if (index < 0 || index >= m_model->columnCount())
        return;
    const bool hidingCurrent = !column->Visible() && currentIndex().isValid() && currentIndex().column() == index;
    applyColumnsToView();
    m_model->columnTitleChanged(index);
    if (hidingCurrent) {
        const int next = firstVisibleColumn();
        if (next >= 0 && next != index && m_columns[next]->Visible())
            setCurrentIndex(m_model->index(currentIndex().row(), next));
    }
    viewport()->update();
}

void TDBGrid::syncCurrentCell()
{
    TDataSet* dataSet = DataSet();
    QModelIndex target;
    if (dataSet && dataSet->Active() && dataSet->currentIndex() >= 0 &&
        dataSet->currentIndex() < m_model->rowCount()) {
        int column = currentIndex().isValid() ? currentIndex().column() : firstVisibleColumn();
        if (column >= 0)
            target = m_model->index(dataSet->currentIndex(), column);
    }
    if (target == currentIndex())
        return;
    m_syncingCurrent = true;
    if (target.isValid()) {
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
        scrollTo(target);
    } else {
        selectionModel()->clearCurrentIndex();
    }
    m_syncingCurrent = false;
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    viewport()->update();
    m_indicator->viewport()->update();
    if (m_syncingCurrent || !current.isValid())
        return;
    TDataSet* dataSet = DataSet();
    if (!dataSet || !dataSet->Active() || current.row() == dataSet->currentIndex())
        return;
    try {
        dataSet->setRecNo(current.row() + 1);
    } catch (const std::exception& error) {
        HandleException(error);
    }
    // A refused move (a pending edit that cannot be posted) leaves the
    // dataset where it was; the grid follows it.
    if (dataSet->Active() && dataSet->currentIndex() != current.row())
        syncCurrentCell();
}

// --- painting and editing ---------------------------------------------------

QString TDBGrid::CellText(TColumn* column, bool forDisplay) const
{
    TField* field = column ? column->Field() : nullptr;
    if (!field)
        throw std::runtime_error("The column has no field");
    const int record = m_paintingRecord >= 0 ? m_paintingRecord : DataSet()->currentIndex();
    return forDisplay ? field->DisplayTextAt(record) : field->TextAt(record);
}

void TDBGrid::paintCell(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (index.column() >= m_columns.Count())
        return;
    TColumn* column = m_columns[index.column()];
    const QRect rect = option.rect;
    const bool current = index == currentIndex();
    TGridDrawState state;
    if (current) {
        state |= gdSelected;
        if (hasFocus())
            state |= gdFocused;
    }

    painter->save();
    painter->setClipRect(rect);
    TCanvas canvas(painter);
    canvas.setFont(font());
    m_canvas = &canvas;
    m_paintingRecord = index.row();

    // Default painting: the display text on the cell colours, highlighted
    // when the current cell is shown as selected.
    const bool highlight = current && (hasFocus() || (m_options & dgAlwaysShowSelection));
    canvas.setBrushColor(palette().color(highlight ? QPalette::Highlight : QPalette::Base));
    canvas.setFontColor(palette().color(highlight ? QPalette::HighlightedText : QPalette::Text));
    canvas.FillRect(rect);
    try {
        canvas.TextOut(rect.left() + 2, rect.top() + 2, CellText(column, true));
    } catch (const std::exception&) {
        ignoreBecause("a field that cannot give its text shows an empty cell");
    }

    try {
        DrawColumnCell(rect, index.column(), column, state);
    } catch (...) {
        ignoreBecause("painting goes on whatever a paint handler throws");
    }

    if (current && hasFocus()) {
        painter->setClipping(false);
        painter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter->setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(rect.adjusted(0, 0, -1, -1));
    }

    m_paintingRecord = -1;
    m_canvas = nullptr;
    painter->restore();
}

bool TDBGrid::cellEditable(const QModelIndex& index) const
{
    if (!(m_options & dgEditing) || m_readOnly || index.column() >= m_columns.Count())
        return false;
    TDataSet* dataSet = DataSet();
    if (!dataSet || !dataSet->Active() || !dataSet->CanModify())
        return false;
    TField* field = m_columns[index.column()]->Field();
    return field && field->CanModify();
}

bool TDBGrid::storeEditText(const QModelIndex& index, const QString& text)
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !dataSet->Active() || index.column() >= m_columns.Count())
        return false;
    TField* field = m_columns[index.column()]->Field();
    if (!field)
        return false;
    try {
        if (dataSet->currentIndex() != index.row())
            dataSet->setRecNo(index.row() + 1);
        if (dataSet->State() != dsEdit)
            dataSet->Edit();
        field->setText(text);
        return true;
    } catch (const std::exception& error) {
        HandleException(error);
        return false;
    }
}

void TDBGrid::closeOpenEditor()
{
    if (state() != QAbstractItemView::EditingState)
        return;
    if (QWidget* editor = m_delegate->openEditor()) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

// --- keyboard and mouse -------------------------------------------------------

void TDBGrid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        event->accept();
        deleteCurrentRecord();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        TDataSet* dataSet = DataSet();
        if (dataSet && dataSet->State() == dsEdit) {
            event->accept();
            try {
                dataSet->Cancel();
            } catch (const std::exception& error) {
                HandleException(error);
            }
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

void TDBGrid::deleteCurrentRecord()
{
    TDataSet* dataSet = DataSet();
    if (!dataSet || !dataSet->Active() || dataSet->IsEmpty() || m_readOnly || !dataSet->CanModify())
        return;
    if (m_options & dgConfirmDelete) {
        if (MessageBoxes::show(this, {QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Delete record?"),
                                      QString(), QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok}) !=
            QMessageBox::Ok)
            return;
    }
    try {
        closeOpenEditor();
        dataSet->Delete();
    } catch (const std::exception& error) {
        HandleException(error);
    }
}

void TDBGrid::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_popupMenu) {
        m_popupMenu->popup(event->globalPos());
        event->accept();
    } else {
        event->ignore();
    }
}

bool TDBGrid::notifyPress(QMouseEvent* event, const QPoint& gridPos)
{
    try {
        return MouseDown(event->button(), event->modifiers(), gridPos.x(), gridPos.y());
    } catch (const std::exception& error) {
        HandleException(error);
        return true;
    }
}

bool TDBGrid::notifyRelease(QMouseEvent* event, const QPoint& gridPos)
{
    try {
        return MouseUp(event->button(), event->modifiers(), gridPos.x(), gridPos.y());
    } catch (const std::exception& error) {
        HandleException(error);
        return true;
    }
}

void TDBGrid::dispatchClick(Qt::MouseButton button, const QPoint& gridPos)
{
    if (button != Qt::LeftButton)
        return;
    const TGridCoord cell = MouseCoord(gridPos.x(), gridPos.y());
    if (cell.X < IndicatorOffset() || cell.Y < 0)
        return;
    try {
        if (cell.Y < TitleOffset()) {
            TitleClick(m_columns[cell.X - IndicatorOffset()]);
        } else if (TColumn* column = SelectedColumn()) {
            CellClick(column);
        }
    } catch (const std::exception& error) {
        HandleException(error);
    }
}

void TDBGrid::mousePressEvent(QMouseEvent* event)
{
    if (m_forwardingDoubleClick) {
        // The view turns a double click on another cell into a press; it was notified as one already.
        QTableView::mousePressEvent(event);
        return;
    }
    const QPoint gridPos = viewport()->mapTo(this, event->position().toPoint());
    event->accept();
    if (notifyPress(event, gridPos))
        return;
    // The grid moves the current cell on the left button only.
    if (event->button() == Qt::LeftButton)
        QTableView::mousePressEvent(event);
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint gridPos = viewport()->mapTo(this, event->position().toPoint());
    event->accept();
    if (notifyPress(event, gridPos))
        return;
    if (event->button() == Qt::LeftButton) {
        m_forwardingDoubleClick = true;
        QTableView::mouseDoubleClickEvent(event);
        m_forwardingDoubleClick = false;
    }
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint gridPos = viewport()->mapTo(this, event->position().toPoint());
    event->accept();
    if (notifyRelease(event, gridPos))
        return;
    if (event->button() == Qt::LeftButton)
        QTableView::mouseReleaseEvent(event);
    dispatchClick(event->button(), gridPos);
}

bool TDBGrid::fixedAreaPress(QWidget* area, QMouseEvent* event)
{
    return notifyPress(event, area->mapTo(this, event->position().toPoint()));
}

bool TDBGrid::fixedAreaRelease(QWidget* area, QMouseEvent* event)
{
    return notifyRelease(event, area->mapTo(this, event->position().toPoint()));
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event)
{
    auto* corner = qobject_cast<QAbstractButton*>(watched);
    if (!corner || corner->parent() != this)
        return QTableView::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        fixedAreaPress(corner, static_cast<QMouseEvent*>(event));
        return true;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!fixedAreaRelease(corner, mouse))
            dispatchClick(mouse->button(), corner->mapTo(this, mouse->position().toPoint()));
        return true;
    }
    case QEvent::ContextMenu: {
        auto* request = static_cast<QContextMenuEvent*>(event);
        QContextMenuEvent forwarded(request->reason(), corner->mapTo(this, request->pos()), request->globalPos(),
                                    request->modifiers());
        contextMenuEvent(&forwarded);
        return true;
    }
    default:
        return QTableView::eventFilter(watched, event);
    }
}
