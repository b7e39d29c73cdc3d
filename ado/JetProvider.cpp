#include "ado/JetProvider.h"

#include "ado/EDatabaseError.h"
#include "jet/Database.h"
#include "jet/JetError.h"
#include "sql/Session.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

const QString kDatabasePasswordKey = QStringLiteral("jet oledb:database password");

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

class DataSetSink : public sql::RowSink {
public:
    using ColumnsHandler = std::function<void(const std::vector<sql::ResultColumn>&)>;
    using RowHandler = std::function<void(const std::vector<jet::Value>&, jet::RowLocator)>;
    using ViewHandler = std::function<void(const jet::RowView&, jet::RowLocator)>;
    using OrderHandler = std::function<void(std::vector<uint32_t>)>;
    DataSetSink(ColumnsHandler onColumns, RowHandler onRow, ViewHandler onView, OrderHandler onOrder)
        : m_onColumns(std::move(onColumns)), m_onRow(std::move(onRow)), m_onView(std::move(onView)),
          m_onOrder(std::move(onOrder))
    {
    }
    void columns(const std::vector<sql::ResultColumn>& columns) override { m_onColumns(columns); }
    void row(const std::vector<jet::Value>& values, jet::RowLocator origin) override { m_onRow(values, origin); }
    // The dataset keeps every row, so it takes them undecoded and their order last.
    bool takesRowViews() const override { return true; }
    void rowView(const jet::RowView& row, jet::RowLocator origin) override { m_onView(row, origin); }
    bool takesOrder() const override { return true; }
    void order(std::vector<uint32_t> positions) override { m_onOrder(std::move(positions)); }

private:
    ColumnsHandler m_onColumns;
    RowHandler m_onRow;
    ViewHandler m_onView;
    OrderHandler m_onOrder;
};

} // namespace

const QString& JetProvider::providerName()
{
    static const QString name = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
    return name;
}

JetProvider::JetProvider(const QMap<QString, QString>& parts, const QString& dataSourceFolder)
    : m_parts(parts), m_dataSourceFolder(dataSourceFolder)
{
}

JetProvider::~JetProvider()
{
    m_session.reset();
    m_database.reset();
}

QFileInfo JetProvider::dataSourceFile() const
{
    const QString path = m_parts.value(QStringLiteral("data source"));
    QFileInfo file(path);
    if (file.isRelative() && !m_dataSourceFolder.isEmpty()) file = QFileInfo(QDir(m_dataSourceFolder), path);
    return file;
}

void JetProvider::checkDataSource() const
{
    if (m_parts.value(QStringLiteral("data source")).isEmpty())
        throw EDatabaseError(QStringLiteral("The connection string names no Data Source (the database file)"));
    const QFileInfo file = dataSourceFile();
    if (!file.exists()) throw EDatabaseError(QStringLiteral("Could not find file '%1'.").arg(file.filePath()));
    if (!file.isFile()) throw EDatabaseError(QStringLiteral("'%1' is not a database file.").arg(file.filePath()));
}

void JetProvider::connect(const QString&, const QString&)
{
    // The file has no user-level security (Jet 4 without a workgroup file), so
    // the user name and password are not asked for.
    checkDataSource();
    const QString path = m_parts.value(QStringLiteral("data source"));
    const QFileInfo file = dataSourceFile();
    try {
        m_database = jet::Database::open(file.absoluteFilePath().toStdString(), jet::Pager::Access::ReadWrite,
                                         m_parts.value(kDatabasePasswordKey).toStdString());
        m_session = std::make_unique<sql::Session>(*m_database);
    } catch (const jet::PasswordError& e) {
        m_session.reset();
        m_database.reset();
        throw EDatabaseError(QStringLiteral("Cannot open the database '%1': %2 (the connection string gives it as "
                                            "Jet OLEDB:Database Password)")
                                 .arg(path, QString::fromStdString(e.what())));
    } catch (const std::exception& e) {
        m_session.reset();
        m_database.reset();
        throw EDatabaseError(QStringLiteral("Cannot open the database '%1': %2").arg(path, QString::fromStdString(e.what())));
    }
}

void JetProvider::query(const QString& statement, const QString& fromTable, bool, RowTarget& target)
{
    sql::Session& session = *m_session;
    auto database = [this]() -> jet::Database& { return *m_database; };
    // The dataset's calls, by the names the sink's handlers use.
    auto setFieldDefs = [&](const std::vector<TFieldDef>& defs) { target.setFieldDefs(defs); };
    auto reserveRecords = [&](int count) { target.reserveRecords(count); };
    auto appendRecord = [&](const auto& row, uint64_t tag) { target.appendRecord(row, tag); };
    auto setFetchOrder = [&](const std::vector<uint32_t>& positions) { target.setFetchOrder(positions); };
    // The table's row count tells how many rows to make room for (a where
    // clause may make them fewer; the spare room is given back after).
    int expectedRows = 0;
    try {
        if (!fromTable.isEmpty() && database().hasTable(fromTable.toStdString()))
            expectedRows = int(std::min<uint32_t>(database().table(fromTable.toStdString()).def().rowCount, 50'000'000));
    } catch (const std::exception&) {
        expectedRows = 0;  // only a hint; the query itself reports real problems
    }
    bool haveColumns = false;
    DataSetSink sink(
        [&](const std::vector<sql::ResultColumn>& columns) {
            std::vector<TFieldDef> defs;
            for (const auto& column : columns) defs.push_back(fieldDefOf(column));
            setFieldDefs(defs);
            reserveRecords(expectedRows);
            haveColumns = true;
        },
        [&](const std::vector<jet::Value>& values, jet::RowLocator origin) {
            appendRecord(values, origin.packed());
        },
        [&](const jet::RowView& row, jet::RowLocator origin) { appendRecord(row, origin.packed()); },
        [&](std::vector<uint32_t> positions) { setFetchOrder(positions); });
    session.query(statement.toStdString(), sink);
    (void)haveColumns;
}

int64_t JetProvider::execute(const QString& statement)
{
    return m_session->execute(statement.toStdString());
}

void JetProvider::updateRow(const QString& table, uint64_t tag, const std::vector<std::pair<QString, jet::Value>>& changes)
{
    std::vector<std::pair<std::string, jet::Value>> columns;
    for (const auto& [name, value] : changes) columns.emplace_back(name.toStdString(), value);
    m_session->updateRow(table.toStdString(), jet::RowLocator::fromPacked(uint32_t(tag)), columns);
}

void JetProvider::deleteRow(const QString& table, uint64_t tag)
{
    m_session->deleteRow(table.toStdString(), jet::RowLocator::fromPacked(uint32_t(tag)));
}

bool JetProvider::isConnectionFault(const std::exception& error) const
{
    return dynamic_cast<const jet::JetError*>(&error) && !dynamic_cast<const sql::SqlError*>(&error);
}
