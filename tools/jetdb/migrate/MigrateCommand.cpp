// jetdb migrate FILE "CONNECTION": the tables of an Access file, with every
// row, onto a PostgreSQL server, in one transaction, checked by row counts
// and a checksum of every table read back through the program's own
// server path. Built only where Qt's SQL module is.
#include "../Commands.h"
#include "../PostgresSchema.h"

#include "ado/ConnectionString.h"
#include "ado/PostgresDialect.h"
#include "ado/TADOConnection.h"
#include "ado/TADOQuery.h"
#include "jet/Database.h"
#include "jet/Table.h"
#include "qtcommon/IgnoredError.h"

#include <QCoreApplication>
#include <QStringList>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace jetdb {
namespace {

// A value as both sides can give it: the server returns currency and
// decimals as doubles and GUIDs as their text.
std::string canonical(const jet::Value& value)
{
    struct Visitor {
        std::string number(double d) const
        {
            char buffer[40];
            std::snprintf(buffer, sizeof buffer, "d%.17g", d);
            return buffer;
        }
        std::string operator()(std::monostate) const { return "N"; }
        std::string operator()(bool b) const { return b ? "b1" : "b0"; }
        std::string operator()(int64_t i) const { return "i" + std::to_string(i); }
        std::string operator()(double d) const { return number(d); }
        std::string operator()(jet::Currency c) const { return number(double(c.units) / 10000.0); }
        std::string operator()(const jet::Decimal& d) const { return number(std::strtod(jet::decimalToString(d).c_str(), nullptr)); }
        std::string operator()(jet::DateTime dt) const
        {
            const jet::CivilTime c = jet::toCivil(dt);
            char buffer[48];
            std::snprintf(buffer, sizeof buffer, "t%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day, c.hour,
                          c.minute, c.second, c.millisecond);
            return buffer;
        }
        std::string operator()(const std::u16string& text) const { return "s" + jet::toUtf8(text); }
        std::string operator()(const jet::Bytes& bytes) const
        {
            static const char digits[] = "0123456789abcdef";
            std::string hex = "x";
            for (uint8_t b : bytes) hex += {digits[b >> 4], digits[b & 15]};
            return hex;
        }
        std::string operator()(const jet::Guid& g) const
        {
            std::string text = jet::guidToString(g); // {XXXXXXXX-...}
            std::string out = "s";
            for (char c : text.substr(1, text.size() - 2)) out += char(std::tolower(static_cast<unsigned char>(c)));
            return out;
        }
    };
    return std::visit(Visitor{}, value);
}

// Rows and an order-independent checksum: the sum of each row's FNV-1a hash.
struct Tally {
    uint64_t rows = 0;
    uint64_t checksum = 0;
    void add(const std::vector<jet::Value>& values)
    {
        uint64_t hash = 1469598103934665603ull;
        for (const jet::Value& value : values) {
            for (unsigned char c : canonical(value) + '\x1f') hash = (hash ^ c) * 1099511628211ull;
        }
        checksum += hash;
        ++rows;
    }
};

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

// The first column of the first row of a select.
jet::Value scalar(TADOConnection& connection, const QString& statement)
{
    TADOQuery query;
    query.setConnection(&connection);
    query.setSQLText(statement);
    query.Open();
    jet::Value value = query.IsEmpty() ? jet::Value{} : query.Fields(0)->ValueAt(0);
    query.Close();
    return value;
}

Tally serverTally(TADOConnection& connection, const std::string& table)
{
    TADOQuery query;
    query.setConnection(&connection);
    query.setSQLText(QStringLiteral("select * from ") + fromUtf8(PostgresSchema::identifier(table)));
    query.Open();
    Tally tally;
    std::vector<jet::Value> values(std::size_t(query.FieldCount()));
    for (int row = 0; row < query.RecordCount(); ++row) {
        for (int field = 0; field < query.FieldCount(); ++field) values[std::size_t(field)] = query.Fields(field)->ValueAt(row);
        tally.add(values);
    }
    query.Close();
    return tally;
}

// Copies one table's rows in statements of a few hundred rows each.
Tally copyRows(jet::Table& table, TADOConnection& connection)
{
    const jet::TableDef& def = table.def();
    QString head = QStringLiteral("insert into ") + fromUtf8(PostgresSchema::identifier(def.name)) + QStringLiteral(" (");
    for (std::size_t i = 0; i < def.columns.size(); ++i)
        head += (i ? QStringLiteral(", ") : QString()) + fromUtf8(PostgresSchema::identifier(def.columns[i].utf8Name));
    head += QStringLiteral(") values ");
    Tally tally;
    QString statement;
    int pending = 0;
    auto flush = [&] {
        if (pending == 0) return;
        connection.Execute(statement);
        statement.clear();
        pending = 0;
    };
    table.scan([&](jet::RowLocator, std::vector<jet::Value>& values) {
        tally.add(values);
        statement += pending == 0 ? head : QStringLiteral(",");
        statement += u'(';
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i) statement += u',';
            try {
                statement += PostgresDialect::literal(values[i]);
            } catch (const std::exception& e) {
                throw std::runtime_error(def.name + "." + def.columns[i].utf8Name + ": " + e.what());
            }
        }
        statement += u')';
        if (++pending == 500 || statement.size() > 4'000'000) flush();
        return true;
    });
    flush();
    return tally;
}

// The identity continues after the highest id and after every number the
// file ever gave out.
void continueIdentity(TADOConnection& connection, const jet::TableDef& def)
{
    for (const jet::ColumnDef& column : def.columns) {
        if (!(column.flags & jet::kColumnAutoLong)) continue;
        const QString table = fromUtf8(PostgresSchema::identifier(def.name));
        const QString name = fromUtf8(PostgresSchema::identifier(column.utf8Name));
        const jet::Value highest = scalar(connection, QStringLiteral("select max(%1) from %2").arg(name, table));
        int64_t last = def.autoNumber;
        if (const auto* id = std::get_if<int64_t>(&highest)) last = std::max(last, *id);
        // pg_get_serial_sequence takes the table as SQL text and the column as a plain name.
        const QString sequence = QStringLiteral("pg_get_serial_sequence('%1', '%2')")
                                     .arg(QString(table).replace(u'\'', QStringLiteral("''")),
                                          fromUtf8(column.utf8Name).toLower().replace(u'\'', QStringLiteral("''")));
        scalar(connection, last > 0 ? QStringLiteral("select setval(%1, %2, true)").arg(sequence).arg(last)
                                    : QStringLiteral("select setval(%1, 1, false)").arg(sequence));
    }
}

int migrate(const std::vector<std::string>& a)
{
    if (a.size() != 2) throw UsageError(a.size() < 2 ? "missing arguments" : "too many arguments");
    const QString connectionString = QString::fromStdString(a[1]);
    const QString provider = ConnectionString::parse(connectionString).value(QStringLiteral("provider"));
    if (provider.compare(QLatin1String("PostgreSQL"), Qt::CaseInsensitive) != 0)
        throw UsageError("the connection string must name Provider=PostgreSQL");
    std::unique_ptr<QCoreApplication> application; // Qt's SQL drivers are plugins, loaded through it
    static int argc = 1;
    static char name[] = "jetdb";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) application = std::make_unique<QCoreApplication>(argc, argv);

    auto db = openDatabase(a[0]);
    const std::vector<std::string> tables = db->tableNames();
    TADOConnection connection;
    connection.setLoginPrompt(false);
    connection.setConnectionString(connectionString);
    connection.Open();

    QStringList names;
    for (const std::string& table : tables)
        names << u'\'' + fromUtf8(PostgresSchema::identifier(table)).mid(1).chopped(1).replace(u'\'', QStringLiteral("''")) + u'\'';
    if (!names.isEmpty()) {
        TADOQuery existing;
        existing.setConnection(&connection);
        existing.setSQLText(QStringLiteral("select table_name from information_schema.tables where table_schema = "
                                           "current_schema() and table_name in (%1) order by table_name")
                                .arg(names.join(u',')));
        existing.Open();
        QStringList found;
        for (int row = 0; row < existing.RecordCount(); ++row) found << existing.Fields(0)->textOf(existing.Fields(0)->ValueAt(row));
        if (!found.isEmpty())
            throw std::runtime_error("the database already has the table(s) " + found.join(QStringLiteral(", ")).toStdString() +
                                     "; migrate copies into a database without them and never over a table");
    }

    connection.BeginTrans();
    try {
        for (const std::string& name : tables) {
            jet::Table& table = db->table(name);
            for (const std::string& statement : PostgresSchema::statements(table.def(), db->properties(name)))
                connection.Execute(fromUtf8(statement));
            const Tally copied = copyRows(table, connection);
            continueIdentity(connection, table.def());
            const Tally held = serverTally(connection, name);
            if (held.rows != copied.rows || held.checksum != copied.checksum)
                throw std::runtime_error("table " + name + ": the server holds " + std::to_string(held.rows) +
                                         " rows (checksum " + std::to_string(held.checksum) + "), the file " +
                                         std::to_string(copied.rows) + " (checksum " + std::to_string(copied.checksum) +
                                         "); nothing was kept");
            char checksum[20];
            std::snprintf(checksum, sizeof checksum, "%016" PRIx64, copied.checksum);
            std::cout << name << ": " << copied.rows << " rows, checksum " << checksum << " on both sides\n";
        }
        connection.CommitTrans();
    } catch (...) {
        if (connection.InTransaction()) {
            try {
                connection.RollbackTrans();
            } catch (...) {
                ignoreBecause("the error that stopped the copy is the one to report; the server drops the transaction anyway");
            }
        }
        throw;
    }
    std::cout << "committed: " << tables.size() << " tables\n";
    return 0;
}

CommandRegistration registration({"migrate", "migrate FILE \"CONNECTION\"",
                                  "creates FILE's tables (columns, keys, indexes, autonumbers as identity columns) on a "
                                  "PostgreSQL server and copies every row in one transaction, checked by row counts and "
                                  "a checksum of every table; refuses when a table exists there. CONNECTION: "
                                  "Provider=PostgreSQL;Data Source=HOST;Location=DATABASE;User ID=USER;Password=PASSWORD",
                                  migrate});

} // namespace
} // namespace jetdb
