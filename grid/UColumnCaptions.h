#pragma once

#include <QDialog>
#include <QString>
#include <QVector>

class QTableWidget;

// The "中文字段设置" dialog: a two-column text grid with a fixed header row
// ("英文字段名", "中文字段名") and a fixed left column of field names; only the
// captions on the right can be edited. There is no OK or Cancel: whoever
// shows it reads the captions back however it was closed.
class TFrmColumnCaptions : public QDialog {
    Q_OBJECT
public:
    static constexpr int DefaultColWidth = 100;
    static constexpr int DefaultRowHeight = 20;

    struct Row {
        QString fieldName;
        QString caption;
    };

    explicit TFrmColumnCaptions(const QVector<Row>& rows, QWidget* parent = nullptr);

    // Rows of the text grid, the header row included.
    int RowCount() const;
    // Text of a cell; column 0 holds field names, column 1 captions, row 0 the headings.
    QString Cells(int column, int row) const;
    QTableWidget* StringGrid() const { return m_grid; }

private:
    QTableWidget* m_grid;
};
