#include "ado/TCustomADODataSet.h"

#include "ado/Provider.h"
#include "ado/TADOConnection.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

// The table a select reads its rows from (the name after its first `from`) and
// whether it is the only table (no join, no second table after a comma).
struct SourceTable {
    QString name;
    bool single = false;
};

SourceTable sourceTableOf(const QString& statement)
{
    // Words, [bracketed names] and single characters; literals are skipped.
    QStringList tokens;
    const int n = int(statement.size());
    for (int i = 0; i < n;) {
        QChar c = statement[i];
        if (c.isSpace()) { ++i; continue; }
        if (c == u'\'' || c == u'"' || c == u'#') {
            int j = i + 1;
            while (j < n) {
                if (statement[j] == c) {
                    if (c != u'#' && j + 1 < n && statement[j + 1] == c) { j += 2; continue; }  // doubled quote
                    break;
                }
                ++j;
            }
            tokens << QStringLiteral("'");
            i = j + 1;
            continue;
        }
        if (c == u'[') {
            int j = int(statement.indexOf(u']', i));
            if (j < 0) j = n;
            tokens << statement.mid(i + 1, j - i - 1);
            i = j + 1;
            continue;
        }
        if (c.isLetterOrNumber() || c == u'_' || c == u'$') {
            int j = i;
            while (j < n && (statement[j].isLetterOrNumber() || statement[j] == u'_' || statement[j] == u'$')) ++j;
            tokens << statement.mid(i, j - i);
            i = j;
            continue;
        }
        tokens << QString(c);
        ++i;
    }
    auto is = [](const QString& token, const char* word) { return token.compare(QLatin1String(word), Qt::CaseInsensitive) == 0; };
    SourceTable result;
    int depth = 0;
    for (int i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == u"(") ++depth;
        else if (tokens[i] == u")") --depth;
        else if (depth == 0 && is(tokens[i], "from") && i + 1 < tokens.size()) {
            result.name = tokens[i + 1];
            result.single = true;
            for (int j = i + 2; j < tokens.size(); ++j) {
                if (is(tokens[j], "where") || is(tokens[j], "order") || is(tokens[j], "group") || is(tokens[j], "having"))
                    break;
                if (is(tokens[j], "join") || tokens[j] == u"," || tokens[j] == u"(") result.single = false;
            }
            break;
        }
    }
    return result;
}

// Errors of the engine and the SQL layer reach callers as EDatabaseError.
[[noreturn]] void rethrowAsDatabaseError()
{
    try {
        throw;
    } catch (const EDatabaseError&) {
        throw;
    } catch (const std::exception& e) {
        throw EDatabaseError(QString::fromStdString(e.what()));
    }
}

} // namespace

// The dataset as the provider fills it.
class DataSetRowTarget : public Provider::RowTarget {
public:
    explicit DataSetRowTarget(TCustomADODataSet& dataSet) : m_dataSet(dataSet) {}
    void setFieldDefs(const std::vector<TFieldDef>& defs) override
    {
        m_dataSet.setFieldDefs(defs);
        haveColumns = true;
    }
    void reserveRecords(int count) override { m_dataSet.reserveRecords(count); }
    void appendRecord(const std::vector<jet::Value>& values, uint64_t tag) override { m_dataSet.appendRecord(values, tag); }
    void appendRecord(const jet::RowView& row, uint64_t tag) override { m_dataSet.appendRecord(row, tag); }
    void setFetchOrder(const std::vector<uint32_t>& positions) override { m_dataSet.setFetchOrder(positions); }

    bool haveColumns = false;

private:
    TCustomADODataSet& m_dataSet;
};

TCustomADODataSet::TCustomADODataSet() = default;

TCustomADODataSet::~TCustomADODataSet()
{
    try {
        Close();
    } catch (...) {
    }
    if (m_connection) m_connection->unregisterDataSet(this);
}

void TCustomADODataSet::setConnection(TADOConnection* connection)
{
    if (connection == m_connection) return;
    Close();
    if (m_connection) m_connection->unregisterDataSet(this);
    m_connection = connection;
    if (m_connection) m_connection->registerDataSet(this);
}

TADOConnection& TCustomADODataSet::connection() const
{
    if (!m_connection) throw EDatabaseError(QStringLiteral("The dataset has no connection: set its Connection first"));
    return *m_connection;
}

void TCustomADODataSet::InternalOpen()
{
    QString statement = statementText().trimmed();
    if (statement.isEmpty()) throw EDatabaseError(QStringLiteral("No SQL statement to run: set the statement before opening"));
    TADOConnection& conn = connection();
    SourceTable source = sourceTableOf(statement);
    DataSetRowTarget target(*this);
    try {
        conn.provider().query(statement, source.name, source.single, target);
        if (!target.haveColumns) throw EDatabaseError(QStringLiteral("The statement returns no rows to show: %1").arg(statement));
    } catch (const std::exception& e) {
        conn.releaseAfterError(e);
        rethrowAsDatabaseError();
    }
    m_fromTable = source.name;
    m_singleTable = source.single;
    m_sort.clear();
}

void TCustomADODataSet::InternalClose()
{
    m_sort.clear();
    m_fromTable.clear();
    m_singleTable = false;
    if (m_connection) m_connection->releaseIfIdle();
}

bool TCustomADODataSet::InternalCanModify() const
{
    return m_lockType != ltReadOnly && !m_fromTable.isEmpty();
}

void TCustomADODataSet::InternalPost(uint64_t recordTag, const std::vector<std::pair<int, jet::Value>>& changes)
{
    std::vector<std::pair<QString, jet::Value>> columns;
    for (const auto& [index, value] : changes) {
        const TFieldDef& def = Fields(index)->Def();
        if (def.baseColumn.isEmpty())
            throw EDatabaseError(QStringLiteral("Field '%1' is computed by the statement and cannot be changed").arg(def.name));
        if (def.baseTable.compare(m_fromTable, Qt::CaseInsensitive) != 0)
            throw EDatabaseError(QStringLiteral("Field '%1' comes from table '%2', not from '%3' whose rows this query shows; "
                                                "it cannot be changed here")
                                     .arg(def.name, def.baseTable, m_fromTable));
        columns.emplace_back(def.baseColumn, value);
    }
    try {
        connection().provider().updateRow(m_fromTable, recordTag, columns);
    } catch (...) {
        rethrowAsDatabaseError();
    }
}

void TCustomADODataSet::InternalDelete(uint64_t recordTag)
{
    if (!m_singleTable)
        throw EDatabaseError(QStringLiteral("Records of a query over several tables cannot be deleted; "
                                            "delete the row from its table instead"));
    try {
        connection().provider().deleteRow(m_fromTable, recordTag);
    } catch (...) {
        rethrowAsDatabaseError();
    }
}

int64_t TCustomADODataSet::executeStatement(const QString& statement)
{
    if (statement.trimmed().isEmpty()) throw EDatabaseError(QStringLiteral("No SQL statement to run: set the statement first"));
    return connection().Execute(statement);
}

void TCustomADODataSet::setSort(const QString& sortText)
{
    checkActive();
    std::vector<SortKey> keys;
    if (!sortText.trimmed().isEmpty()) {
        for (const QString& rawPart : sortText.split(u',')) {
            QString part = rawPart.trimmed();
            if (part.isEmpty())
                throw EDatabaseError(QStringLiteral("Sort order '%1' is not valid: a field name is missing").arg(sortText));
            SortKey key;
            static const QRegularExpression direction(QStringLiteral("\\s+(ASC|DESC)$"),
                                                      QRegularExpression::CaseInsensitiveOption);
            QRegularExpressionMatch m = direction.match(part);
            if (m.hasMatch()) {
                key.descending = m.captured(1).compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0;
                part = part.left(m.capturedStart()).trimmed();
            }
            if (part.startsWith(u'[') && part.endsWith(u']')) part = part.mid(1, part.size() - 2);
            TField* field = FindField(part);
            if (!field)
                throw EDatabaseError(QStringLiteral("Sort order '%1' is not valid: the dataset has no field '%2'").arg(sortText, part));
            key.field = field->Index();
            keys.push_back(key);
        }
    }
    sortRecords(keys);
    m_sort = sortText;
}

void TCustomADODataSet::Requery()
{
    int recNo = RecNo();
    Close();
    Open();
    if (recNo > 0 && !IsEmpty()) setRecNo(recNo);
}
