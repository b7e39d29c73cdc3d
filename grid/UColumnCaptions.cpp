#include "grid/UColumnCaptions.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kMaxVisibleRows = 20;

QTableWidgetItem* fixedCell(const QString& text, const QPalette& palette)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setBackground(palette.color(QPalette::Button));
    item->setForeground(palette.color(QPalette::ButtonText));
    return item;
}

} // namespace

TFrmColumnCaptions::TFrmColumnCaptions(const QVector<Row>& rows, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_grid(new QTableWidget(int(rows.size()) + 1, 2, this))
{
    setObjectName(QStringLiteral("TFrmColumnCaptions"));
    setWindowTitle(QStringLiteral("中文字段设置"));
    setModal(true);

    m_grid->setObjectName(QStringLiteral("StringGrid"));
    m_grid->setFrameShape(QFrame::NoFrame);
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setDefaultSectionSize(DefaultColWidth);
    m_grid->verticalHeader()->setMinimumSectionSize(1);
    m_grid->verticalHeader()->setDefaultSectionSize(DefaultRowHeight);
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_grid->setShowGrid(true);
    m_grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                            QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);

    const QPalette palette = m_grid->palette();
    m_grid->setItem(0, 0, fixedCell(QStringLiteral("英文字段名"), palette));
    m_grid->setItem(0, 1, fixedCell(QStringLiteral("中文字段名"), palette));
    for (int i = 0; i < rows.size(); ++i) {
        m_grid->setItem(i + 1, 0, fixedCell(rows[i].fieldName, palette));
        auto* caption = new QTableWidgetItem(rows[i].caption);
        caption->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
        m_grid->setItem(i + 1, 1, caption);
    }
    if (rows.size() > 0)
        m_grid->setCurrentCell(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_grid);

    // Room for both columns and up to kMaxVisibleRows rows; more rows scroll.
    const int visibleRows = std::min(int(rows.size()) + 1, kMaxVisibleRows);
    int width = 2 * DefaultColWidth + 2;
    if (rows.size() + 1 > kMaxVisibleRows)
        width += m_grid->verticalScrollBar()->sizeHint().width();
    setFixedSize(width, visibleRows * DefaultRowHeight + 2);

    // Centred on the desktop, not on the grid's window.
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(this->width() / 2, this->height() / 2));
    }
}

int TFrmColumnCaptions::RowCount() const
{
    return m_grid->rowCount();
}

QString TFrmColumnCaptions::Cells(int column, int row) const
{
    const QTableWidgetItem* item = m_grid->item(row, column);
    return item ? item->text() : QString();
}
