#include "ado/TCustomADODataSet.h"

#include "ado/RowBufferPool.h"
#include "base/NameCase.h"
#include "qtcommon/IgnoredError.h"
#include "ado/TADOConnection.h"
#include "sql/Session.h"

#include "jet/Database.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

TFieldDef fieldDefOf(const sql::ResultColumn& column)
{
    TFieldDef def;
    def.name = fromUtf8(column.name);
    def.size = 0;
    def.required = column.required;
    def.autoIncrement = column.autoIncrement;
    def.baseTable = fromUtf8(column.baseTable);
    def.baseColumn = fromUtf8(column.baseColumn);
    switch (column.type) {
    case jet::ColumnType::Boolean: def.type = ftBoolean; break;
    case jet::ColumnType::Byte: def.type = ftByte; break;
    case jet::ColumnType::Integer: def.type = ftSmallint; break;
    case jet::ColumnType::Long: def.type = column.autoIncrement ? ftAutoInc : ftInteger; break;
    case jet::ColumnType::Currency: def.type = ftCurrency; break;
    case jet::ColumnType::Single:
    case jet::ColumnType::Double: def.type = ftFloat; break;
    case jet::ColumnType::DateTime: def.type = ftDateTime; break;
    case jet::ColumnType::Binary:
    default: // a type the engine does not know reads as its raw bytes
        def.type = ftVarBytes;
        def.size = column.length;
        break;
    case jet::ColumnType::Text: def.type = ftWideString; def.size = column.length; break;
    case jet::ColumnType::OLE: def.type = ftBlob; break;
    case jet::ColumnType::Memo: def.type = ftWideMemo; break;
    case jet::ColumnType::Guid: def.type = ftGuid; break;
    case jet::ColumnType::Numeric:
        def.type = column.precision > 18 ? ftFMTBcd : ftBCD;
        def.precision = column.precision;
        def.scale = column.scale;
        break;
    }
    return def;
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

class DataSetSink : public sql::RowSink {
public:
    using SourceHandler = std::function<void(const std::string&, bool)>;
    using ColumnsHandler = std::function<void(const std::vector<sql::ResultColumn>&)>;
    using RowHandler = std::function<void(const std::vector<jet::Value>&, jet::RowLocator)>;
    using LocatorsHandler = std::function<void(std::vector<uint32_t>)>;
    DataSetSink(SourceHandler onSource, ColumnsHandler onColumns, RowHandler onRow, LocatorsHandler onLocators)
        : m_onSource(std::move(onSource)), m_onColumns(std::move(onColumns)), m_onRow(std::move(onRow)),
          m_onLocators(std::move(onLocators))
    {
    }
    void source(const std::string& table, bool only) override { m_onSource(table, only); }
    void columns(const std::vector<sql::ResultColumn>& columns) override { m_onColumns(columns); }
    void row(const std::vector<jet::Value>& values, jet::RowLocator origin) override { m_onRow(values, origin); }
    // Whole rows of one table are read when the dataset reaches them.
    bool takesLocators() const override { return true; }
    void locators(std::vector<uint32_t> rows) override { m_onLocators(std::move(rows)); }
    std::vector<uint32_t> locatorBuffer() override { return RowBufferPool<uint32_t>::take(); }

private:
    SourceHandler m_onSource;
    ColumnsHandler m_onColumns;
    RowHandler m_onRow;
    LocatorsHandler m_onLocators;
};

} // namespace

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
    QString fromTable;
    bool singleTable = false;
    try {
        sql::Session& session = conn.session();
        bool haveColumns = false;
        // The table's row count tells how many rows to make room for when
        // rows come whole (a where clause may make them fewer; the spare
        // room is given back after).
        int expectedRows = 0;
        DataSetSink sink(
            [&](const std::string& table, bool only) {
                fromTable = QString::fromStdString(table);
                singleTable = only;
                try {
                    expectedRows = int(std::min<uint32_t>(conn.database().table(table).def().rowCount, 50'000'000));
                } catch (const std::exception&) {
                    expectedRows = 0;  // only a hint; the query itself reports real problems
                }
            },
            [&](const std::vector<sql::ResultColumn>& columns) {
                std::vector<TFieldDef> defs;
                for (const auto& column : columns) defs.push_back(fieldDefOf(column));
                setFieldDefs(defs);
                haveColumns = true;
            },
            [&](const std::vector<jet::Value>& values, jet::RowLocator origin) {
                if (expectedRows > 0) {
                    reserveRecords(expectedRows);
                    expectedRows = 0;
                }
                appendRecord(values, origin.packed());
            },
            [&](std::vector<uint32_t> rows) { setLazyRecords(std::move(rows)); });
        session.query(statement.toStdString(), sink);
        if (!haveColumns) throw EDatabaseError(QStringLiteral("The statement returns no rows to show: %1").arg(statement));
        m_changeCount = session.changeCount();
    } catch (const std::exception& e) {
        conn.releaseAfterError(e);
        rethrowAsDatabaseError();
    }
    m_fromTable = fromTable;
    m_singleTable = singleTable;
    if (!refetching()) m_sort.clear();
}

bool TCustomADODataSet::InternalReadRows(const std::vector<uint32_t>& tags, const RowVisitor& visit)
{
    try {
        return connection().session().readRows(m_fromTable.toStdString(), m_changeCount, tags.data(), tags.size(), visit);
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
    std::vector<std::pair<std::string, jet::Value>> columns;
    for (const auto& [index, value] : changes) {
        const TFieldDef& def = Fields(index)->Def();
        if (def.baseColumn.isEmpty())
            throw EDatabaseError(QStringLiteral("Field '%1' is computed by the statement and cannot be changed").arg(def.name));
        if (!base::NameCase::equalUtf8(def.baseTable.toStdString(), m_fromTable.toStdString()))
            throw EDatabaseError(QStringLiteral("Field '%1' comes from table '%2', not from '%3' whose rows this query shows; "
                                                "it cannot be changed here")
                                     .arg(def.name, def.baseTable, m_fromTable));
        columns.emplace_back(def.baseColumn.toStdString(), value);
    }
    try {
        sql::Session& session = connection().session();
        session.updateRow(m_fromTable.toStdString(), jet::RowLocator::fromPacked(uint32_t(recordTag)), columns);
        // Our own change: the rows held still stand for the file.
        m_changeCount = session.changeCount();
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
        sql::Session& session = connection().session();
        session.deleteRow(m_fromTable.toStdString(), jet::RowLocator::fromPacked(uint32_t(recordTag)));
        m_changeCount = session.changeCount();
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
