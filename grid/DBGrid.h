#pragma once

#include "ado/TDataSource.h"
#include "grid/TCanvas.h"
#include "grid/TDBGridColumns.h"

#include <QMenu>
#include <QPointer>
#include <QTableView>

#include <exception>
#include <functional>

class TDBGridCellDelegate;
class TDBGridHeader;
class TDBGridModel;

enum TDBGridOption {
    dgEditing = 0x0001,
    dgAlwaysShowEditor = 0x0002,
    dgTitles = 0x0004,
    dgIndicator = 0x0008,
    dgColumnResize = 0x0010,
    dgColLines = 0x0020,
    dgRowLines = 0x0040,
    dgTabs = 0x0080,
    dgRowSelect = 0x0100,
    dgAlwaysShowSelection = 0x0200,
    dgConfirmDelete = 0x0400,
    dgCancelOnExit = 0x0800,
};
Q_DECLARE_FLAGS(TDBGridOptions, TDBGridOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDBGridOptions)

enum TGridDrawStateFlag {
    gdSelected = 0x1,  // the cell lies in the selection: the current cell
    gdFocused = 0x2,   // the current cell of a grid that has the keyboard focus
    gdFixed = 0x4,     // a title or indicator cell
};
Q_DECLARE_FLAGS(TGridDrawState, TGridDrawStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridDrawState)

// A cell in the grid's own numbering: column 0 is the row indicator and row 0
// the title row (while they are shown); data column i is column i + 1 and
// record n (0-based, in the dataset's order) is row n + 1. -1 in both for a
// point outside every cell.
struct TGridCoord {
    int X = -1;
    int Y = -1;
    bool operator==(const TGridCoord&) const = default;
};

// A data-aware grid: one row per record of the dataset behind DataSource,
// one column per entry of Columns, a title row and a row indicator. It is a
// virtual view: rows are read from the dataset only while they are painted,
// so it holds no object per record.
//
// The current cell follows the dataset's current record and moves it.
// Handlers assigned by the owner (OnTitleClick, OnCellClick,
// OnDrawColumnCell, OnMouseDown, OnMouseUp) are called once per event;
// subclasses extend the protected hooks that call them.
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    using TDBGridClickEvent = std::function<void(TColumn* column)>;
    using TDrawColumnCellEvent =
        std::function<void(TDBGrid* sender, const QRect& rect, int dataCol, TColumn* column, TGridDrawState state)>;
    using TMouseEvent =
        std::function<void(TDBGrid* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>;
    using TExceptionHandler = std::function<void(const std::exception& error)>;

    static constexpr TDBGridOptions DefaultOptions = TDBGridOptions(
        dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs | dgConfirmDelete |
        dgCancelOnExit);

    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    QString Name() const { return objectName(); }
    void setName(const QString& name) { setObjectName(name); }

    TDataSource* DataSource() const { return m_dataSource; }
    void setDataSource(TDataSource* dataSource);
    // The dataset behind the data source; nullptr when there is none.
    TDataSet* DataSet() const;

    TDBGridColumns& Columns() { return m_columns; }
    const TDBGridColumns& Columns() const { return m_columns; }

    TDBGridOptions Options() const { return m_options; }
    void setOptions(TDBGridOptions options);

    // A read-only grid neither edits nor deletes.
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);

    // The context menu assigned by the owner; not owned.
    QMenu* PopupMenu() const { return m_popupMenu; }
    void setPopupMenu(QMenu* menu) { m_popupMenu = menu; }

    // Index in Columns of the current cell's column; -1 without columns.
    int SelectedIndex() const;
    TColumn* SelectedColumn() const;

    // The canvas of the cell being painted; nullptr outside painting.
    TCanvas* Canvas() const { return m_canvas; }

    // Hit-test of a point in the grid's own coordinates.
    TGridCoord MouseCoord(int x, int y) const;
    int IndicatorOffset() const { return (m_options & dgIndicator) ? 1 : 0; }
    int TitleOffset() const { return (m_options & dgTitles) ? 1 : 0; }

    TDBGridClickEvent OnTitleClick;
    TDBGridClickEvent OnCellClick;
    TDrawColumnCellEvent OnDrawColumnCell;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

    // Where errors of event handling go (a refused write, a value the field
    // rejects). Without a handler they are shown as the application's
    // default error display: the text (with a full stop added), the
    // application title as caption, an error icon and OK.
    static void setExceptionHandler(TExceptionHandler handler);
    static void HandleException(const std::exception& error);

protected:
    // Title click: the left button released over a column title. Calls OnTitleClick.
    virtual void TitleClick(TColumn* column);
    // Cell click: the left button released over a data cell; names the current column. Calls OnCellClick.
    virtual void CellClick(TColumn* column);
    // Called for every data cell after the default painting; calls OnDrawColumnCell.
    virtual void DrawColumnCell(const QRect& rect, int dataCol, TColumn* column, TGridDrawState state);
    // Presses and releases of any button over the grid, at grid coordinates.
    // Call OnMouseDown / OnMouseUp. Return true when the press or release is
    // handled and the grid's own mouse handling must not see it.
    virtual bool MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual bool MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    // The field's edit text (or display text) in the record being painted,
    // or in the current record outside painting. Throws when the column has
    // no field or the field cannot give it.
    QString CellText(TColumn* column, bool forDisplay) const;

    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TColumn;
    friend class TDBGridCellDelegate;
    friend class TDBGridColumns;
    friend class TDBGridHeader;
    friend class TDBGridModel;

    // Data source notifications.
    void linkActive(bool active);
    void dataSetLayoutChanged();
    void dataSetRowsChanged();
    void dataSetRecordChanged();
    void dataSetCurrentMoved();
    void dataSetStateChanged();

    void rebuildColumns();
    int defaultColumnWidth(const TColumn* column) const;
    void resetRows();
    void applyColumnsToView();
    void columnChanged(TColumn* column);
    void syncCurrentCell();
    void keepTopRowWhole();
    int firstVisibleColumn() const;

    void paintCell(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index);
    bool storeEditText(const QModelIndex& index, const QString& text);
    bool cellEditable(const QModelIndex& index) const;
    void closeOpenEditor();

    // Mouse events of the title row, the indicator column and their corner.
    bool fixedAreaPress(QWidget* area, QMouseEvent* event);
    bool fixedAreaRelease(QWidget* area, QMouseEvent* event);
    bool notifyPress(QMouseEvent* event, const QPoint& gridPos);
    bool notifyRelease(QMouseEvent* event, const QPoint& gridPos);
    void dispatchClick(Qt::MouseButton button, const QPoint& gridPos);
    void deleteCurrentRecord();

    TDBGridColumns m_columns;
    TDBGridModel* m_model;
    TDBGridCellDelegate* m_delegate;
    TDBGridHeader* m_titles;
    TDBGridHeader* m_indicator;
    QPointer<TDataSource> m_dataSource;
    QPointer<QMenu> m_popupMenu;
    TDBGridOptions m_options = DefaultOptions;
    bool m_readOnly = false;
    bool m_syncingCurrent = false;
    bool m_applyingColumns = false;
    bool m_forwardingDoubleClick = false;
    TCanvas* m_canvas = nullptr;
    int m_paintingRecord = -1;
};
