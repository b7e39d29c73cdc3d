#include "ado/TADOQuery.h"

void TADOQuery::setSQLText(const QString& text)
{
    Close();
    m_sql = text.split(QLatin1Char('\n'));
}

int64_t TADOQuery::ExecSQL()
{
    m_rowsAffected = executeStatement(SQLText());
    return m_rowsAffected;
}
