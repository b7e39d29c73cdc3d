#include "ado/JetProvider.h"

#include "ado/EDatabaseError.h"
#include "jet/Database.h"
#include "jet/JetError.h"
#include "sql/Session.h"

#include <QDir>
#include <QtGlobal>
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
    case jet::ColumnType::Complex: def.type = ftInteger; break; // the key of its values
    case jet::ColumnType::BigInt: def.type = ftLargeint; break;
    case jet::ColumnType::ExtDateTime: def.type = ftWideString; def.size = 27; break; // "YYYY-MM-DD HH:MM:SS.fffffff"
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

// The dataset being opened as the SQL layer's sink: whole rows of one
// table come as locators (the dataset reads each row when it first needs
// it); other results come row by row.
class DataSetSink : public sql::RowSink {
public:
    explicit DataSetSink(Provider::RowTarget& target, jet::Database& database) : m_target(target), m_database(database) {}
    void source(const std::string& table, bool only) override
    {
        m_target.setSource(QString::fromStdString(table), only);
        try {
            m_expectedRows = int(std::min<uint32_t>(m_database.table(table).def().rowCount, 50'000'000));
        } catch (const std::exception&) {
            m_expectedRows = 0;  // only a hint; the query itself reports real problems
        }
    }
    void columns(const std::vector<sql::ResultColumn>& columns) override
    {
        std::vector<TFieldDef> defs;
        for (const auto& column : columns) defs.push_back(fieldDefOf(column));
        m_target.setFieldDefs(defs);
    }
    void row(const std::vector<jet::Value>& values, jet::RowLocator origin) override
    {
        // The table's row count tells how many rows to make room for (a
        // where clause may make them fewer; the spare room is given back after).
        if (m_expectedRows > 0) {
            m_target.reserveRecords(m_expectedRows);
            m_expectedRows = 0;
        }
        m_target.appendRecord(values, origin.packed());
    }
    bool takesLocators() const override { return true; }
    void locators(std::vector<uint32_t> rows) override { m_target.setLazyRecords(std::move(rows)); }
    std::vector<uint32_t> locatorBuffer() override { return m_target.tagBuffer(); }

private:
    Provider::RowTarget& m_target;
    jet::Database& m_database;
    int m_expectedRows = 0;
};

} // namespace

const QString& JetProvider::providerName()
{
    static const QString name = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
    return name;
}

const QString& JetProvider::aceProviderName()
{
    static const QString name = QStringLiteral("Microsoft.ACE.OLEDB.12.0");
    return name;
}

bool JetProvider::serves(const QString& provider)
{
    for (const QString& name : {providerName(), aceProviderName(), QStringLiteral("Microsoft.ACE.OLEDB.16.0")})
        if (provider.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
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
        if (m_database->pager().format().ace &&
            m_parts.value(QStringLiteral("provider")).compare(providerName(), Qt::CaseInsensitive) == 0)
            throw EDatabaseError(QStringLiteral("Cannot open the database '%1': it is an Access 2007 or later (.accdb) "
                                                "file, which opens with Provider=%2, not %3")
                                     .arg(path, aceProviderName(), providerName()));
        m_session = std::make_unique<sql::Session>(*m_database);
        // A journal set aside (it did not belong to the file) is worth an
        // administrator's look, though the file opened.
        for (const std::string& notice : m_database->pager().notices()) qWarning("%s", notice.c_str());
    } catch (const EDatabaseError&) {
        m_session.reset();
        m_database.reset();
        throw;
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

void JetProvider::query(const QString& statement, const sql::ParameterValues& parameters, RowTarget& target)
{
    DataSetSink sink(target, *m_database);
    m_session->query(statement.toStdString(), parameters, sink);
}

bool JetProvider::readRows(const QString& table, uint64_t since, const std::vector<uint32_t>& tags, const RowVisitor& visit)
{
    return m_session->readRows(table.toStdString(), since, tags.data(), tags.size(), visit);
}

uint64_t JetProvider::changeCount() const { return m_session->changeCount(); }

int64_t JetProvider::execute(const QString& statement, const sql::ParameterValues& parameters)
{
    return m_session->execute(statement.toStdString(), parameters);
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

void JetProvider::beginTransaction() { m_session->beginTransaction(); }

void JetProvider::commitTransaction() { m_session->commitTransaction(); }

void JetProvider::rollbackTransaction() { m_session->rollbackTransaction(); }

bool JetProvider::changedElsewhere() const { return m_session->changedOnDisk(); }
