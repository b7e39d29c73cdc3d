#pragma once

#include "ado/TCustomADODataSet.h"

#include <QStringList>

// A dataset defined by SQL text: Open runs a select and holds its rows,
// ExecSQL runs an update, delete or insert; both with the values of the
// statement's Parameters (its ? and :name marks).
class TADOQuery : public TCustomADODataSet {
public:
    // The statement, line by line (joined with newlines when run).
    QStringList& SQL() { return m_sql; }
    const QStringList& SQL() const { return m_sql; }
    QString SQLText() const { return m_sql.join(QLatin1Char('\n')); }
    void setSQLText(const QString& text);  // closes the query first

    // Runs the statement; returns (and keeps in RowsAffected) the rows it changed.
    int64_t ExecSQL();
    int64_t RowsAffected() const { return m_rowsAffected; }

protected:
    QString statementText() const override { return SQLText(); }

private:
    QStringList m_sql;
    int64_t m_rowsAffected = -1;
};
