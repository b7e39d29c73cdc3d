#include "ado/TCustomADODataSet.h"

#include "ado/Provider.h"
#include "ado/RowBufferPool.h"
#include "ado/TADOConnection.h"
#include "base/NameCase.h"
#include "qtcommon/IgnoredError.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

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
    void setSource(const QString& table, bool only) override
    {
        fromTable = table;
        onlyTable = only;
    }
    void setLazyRecords(std::vector<uint32_t> tags) override { m_dataSet.setLazyRecords(std::move(tags)); }
    std::vector<uint32_t> tagBuffer() override { return RowBufferPool<uint32_t>::take(); }

    QString fromTable;
    bool onlyTable = false;

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
        ignoreBecause("a dataset being destroyed has no one to report a failed close to");
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
    DataSetRowTarget target(*this);
    try {
        const sql::ParameterValues parameters = Parameters().values();
        Provider& provider = conn.provider();
        provider.query(statement, parameters, target);
        if (!target.haveColumns) throw EDatabaseError(QStringLiteral("The statement returns no rows to show: %1").arg(statement));
        m_changeCount = provider.changeCount();
    } catch (const std::exception& e) {
        conn.releaseAfterError(e);
        rethrowAsDatabaseError();
    }
    m_fromTable = target.fromTable;
    m_singleTable = target.onlyTable;
    if (!refetching()) m_sort.clear();
}

std::optional<std::vector<uint32_t>> TCustomADODataSet::InternalRankTexts(const std::vector<std::u16string_view>& texts)
{
    // Records put in without a database (or after it closed) sort as the engine does.
    if (!m_connection || !m_connection->Connected()) return std::nullopt;
    try {
        return connection().provider().rankTexts(texts);
    } catch (...) {
        rethrowAsDatabaseError();
    }
}

bool TCustomADODataSet::InternalReadRows(const std::vector<uint32_t>& tags, const RowVisitor& visit)
{
    try {
        return connection().provider().readRows(m_fromTable, m_changeCount, tags, visit);
    } catch (...) {
        rethrowAsDatabaseError();
    }
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
        if (!base::NameCase::equalUtf8(def.baseTable.toStdString(), m_fromTable.toStdString()))
            throw EDatabaseError(QStringLiteral("Field '%1' comes from table '%2', not from '%3' whose rows this query shows; "
                                                "it cannot be changed here")
                                     .arg(def.name, def.baseTable, m_fromTable));
        columns.emplace_back(def.baseColumn, value);
    }
    try {
        Provider& provider = connection().provider();
        provider.updateRow(m_fromTable, recordTag, columns);
        // Our own change: the rows held still stand for the database.
        m_changeCount = provider.changeCount();
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
        Provider& provider = connection().provider();
        provider.deleteRow(m_fromTable, recordTag);
        m_changeCount = provider.changeCount();
    } catch (...) {
        rethrowAsDatabaseError();
    }
}

int64_t TCustomADODataSet::executeStatement(const QString& statement)
{
    if (statement.trimmed().isEmpty()) throw EDatabaseError(QStringLiteral("No SQL statement to run: set the statement first"));
    return connection().Execute(statement, Parameters().values());
}

TParameters& TCustomADODataSet::Parameters()
{
    const QString statement = statementText();
    if (statement != m_parametersOf) {
        m_parameters.ParseSQL(statement);
        m_parametersOf = statement;
    }
    return m_parameters;
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
