// jetdb migrate FILE "CONNECTION": the tables of an Access file, with every
// row, onto a PostgreSQL server, in one transaction, checked by row counts
// and a checksum of every table read back through the program's own
// server path. Built only where Qt's SQL module is. Nothing read from the
// file reaches the server as statement text: names and values are quoted
// by postgres::Quoting (PostgresDialect::literal), defaults rebuilt by
// postgres::DefaultValue, and the names looked up on the server bound.
#include "../Commands.h"
#include "../PostgresSchema.h"

#include "ado/ConnectionString.h"
#include "ado/PostgresDialect.h"
#include "ado/postgres/PostgresQuoting.h"
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
QString identifier(const std::string& serverName) { return fromUtf8(postgres::Quoting::identifier(serverName)); }

// The first column of the first row of a select; `values` for its ? marks.
jet::Value scalar(TADOConnection& connection, const QString& statement, const std::vector<jet::Value>& values = {})
{
    TADOQuery query;
    query.setConnection(&connection);
    query.setSQLText(statement);
    for (std::size_t i = 0; i < values.size(); ++i) query.Parameters().Items(int(i))->setValue(values[i]);
    query.Open();
    jet::Value value = query.IsEmpty() ? jet::Value{} : query.Fields(0)->ValueAt(0);
    query.Close();
    return value;
}

Tally serverTally(TADOConnection& connection, const PostgresSchema::ServerTable& table)
{
    TADOQuery query;
    query.setConnection(&connection);
    query.setSQLText(QStringLiteral("select * from ") + identifier(table.name));
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
Tally copyRows(jet::Table& table, const PostgresSchema::ServerTable& server, TADOConnection& connection)
{
    const jet::TableDef& def = table.def();
    QString head = QStringLiteral("insert into ") + identifier(server.name) + QStringLiteral(" (");
    for (std::size_t i = 0; i < server.columns.size(); ++i)
        head += (i ? QStringLiteral(", ") : QString()) + identifier(server.columns[i]);
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
                throw std::runtime_error(PostgresSchema::shown(def.name + "." + def.columns[i].utf8Name) + ": " + e.what());
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
void continueIdentity(TADOConnection& connection, const jet::TableDef& def, const PostgresSchema::ServerTable& server)
{
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        if (!(def.columns[i].flags & jet::kColumnAutoLong)) continue;
        const QString table = identifier(server.name);
        const QString column = identifier(server.columns[i]);
        const jet::Value highest = scalar(connection, QStringLiteral("select max(%1) from %2").arg(column, table));
        int64_t last = def.autoNumber;
        if (const auto* id = std::get_if<int64_t>(&highest)) last = std::max(last, *id);
        // The table as SQL text (its quoted name) and the column as a plain name.
        const jet::Value tableText = jet::fromUtf8(postgres::Quoting::identifier(server.name));
        const jet::Value columnName = jet::fromUtf8(server.columns[i]);
        if (last > 0)
            scalar(connection, QStringLiteral("select setval(pg_get_serial_sequence(?, ?), ?, true)"),
                   {tableText, columnName, last});
        else
            scalar(connection, QStringLiteral("select setval(pg_get_serial_sequence(?, ?), 1, false)"), {tableText, columnName});
    }
}

// Refuses a database that has a table, index or sequence of a name the
// statements give, before anything is made.
void refuseExistingNames(TADOConnection& connection, const PostgresSchema& schema)
{
    const std::vector<std::string>& names = schema.relationNames();
    if (names.empty()) return;
    TADOQuery existing;
    existing.setConnection(&connection);
    QString marks = QStringLiteral("?");
    for (std::size_t i = 1; i < names.size(); ++i) marks += QStringLiteral(",?");
    existing.setSQLText(QStringLiteral("select c.relname, c.relkind from pg_class c join pg_namespace n on "
                                       "n.oid = c.relnamespace where n.nspname = current_schema() and c.relname in (%1) "
                                       "order by c.relname")
                            .arg(marks));
    for (std::size_t i = 0; i < names.size(); ++i) existing.Parameters().Items(int(i))->setValue(jet::fromUtf8(names[i]));
    existing.Open();
    QStringList tables, others;
    for (int row = 0; row < existing.RecordCount(); ++row) {
        const QString name = existing.Fields(0)->textOf(existing.Fields(0)->ValueAt(row));
        const QString kind = existing.Fields(1)->textOf(existing.Fields(1)->ValueAt(row));
        const bool isTable = kind.size() == 1 && QStringLiteral("rpvmf").contains(kind); // tables, views and the like
        (isTable ? tables : others) << fromUtf8(PostgresSchema::shown(name.toStdString()));
    }
    existing.Close();
    if (!tables.isEmpty())
        throw std::runtime_error("the database already has the table(s) " + tables.join(QStringLiteral(", ")).toStdString() +
                                 "; migrate copies into a database without them and never over a table");
    if (!others.isEmpty())
        throw std::runtime_error("the database already has an index or sequence named " +
                                 others.join(QStringLiteral(", ")).toStdString() +
                                 ", a name migrate gives one of its own; nothing was made");
}

int migrate(const std::vector<std::string>& a)
{
    if (a.size() != 2) throw UsageError(a.size() < 2 ? "missing arguments" : "too many arguments");
    const QString connectionString = QString::fromStdString(a[1]);
    const QMap<QString, QString> parts = ConnectionString::parse(connectionString);
    if (parts.value(QStringLiteral("provider")).compare(QLatin1String("PostgreSQL"), Qt::CaseInsensitive) != 0)
        throw UsageError("the connection string must name Provider=PostgreSQL");
    const QString givenPassword = parts.value(QStringLiteral("password"));
    const QString userName = parts.value(QStringLiteral("user id"));
    std::unique_ptr<QCoreApplication> application; // Qt's SQL drivers are plugins, loaded through it
    static int argc = 1;
    static char name[] = "jetdb";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) application = std::make_unique<QCoreApplication>(argc, argv);

    // Password=- is read here; no password leaves it to libpq (PGPASSWORD, ~/.pgpass).
    const std::string serverPassword =
        passwordArgument(givenPassword.toStdString(), "the server password (Password= in the connection string)",
                         "Password for " + (userName.isEmpty() ? std::string("the server") : userName.toStdString()) + ": ",
                         "leave it out and give it in PGPASSWORD or ~/.pgpass, or as Password=- to type it");

    auto db = openDatabase(a[0]);
    const std::vector<std::string> tables = db->tableNames();
    const PostgresSchema schema(*db, tables);
    TADOConnection connection;
    connection.setLoginPrompt(true);
    connection.OnLogin = [&](TADOConnection*, QString&, QString& password) { password = QString::fromStdString(serverPassword); };
    connection.setConnectionString(connectionString);
    try {
        connection.Open();
    } catch (const std::exception& e) {
        if (!givenPassword.isEmpty()) throw;
        throw std::runtime_error(std::string(e.what()) +
                                 " (the connection string has no Password=: the server's password comes from "
                                 "PGPASSWORD or ~/.pgpass, or give Password=- to type it)");
    }

    refuseExistingNames(connection, schema);
    for (const std::string& line : schema.renamed()) std::cout << "renamed: " << line << "\n";
    for (const std::string& line : schema.warnings()) std::cerr << "jetdb migrate: warning: " << line << "\n";

    connection.BeginTrans();
    try {
        for (const PostgresSchema::ServerTable& server : schema.tables()) {
            jet::Table& table = db->table(server.fileName);
            for (const std::string& statement : server.statements) connection.Execute(fromUtf8(statement));
            const Tally copied = copyRows(table, server, connection);
            continueIdentity(connection, table.def(), server);
            const Tally held = serverTally(connection, server);
            const std::string shownName = PostgresSchema::shown(server.fileName);
            if (held.rows != copied.rows || held.checksum != copied.checksum)
                throw std::runtime_error("table " + shownName + ": the server holds " + std::to_string(held.rows) +
                                         " rows (checksum " + std::to_string(held.checksum) + "), the file " +
                                         std::to_string(copied.rows) + " (checksum " + std::to_string(copied.checksum) +
                                         "); nothing was kept");
            char checksum[20];
            std::snprintf(checksum, sizeof checksum, "%016" PRIx64, copied.checksum);
            std::cout << shownName << ": " << copied.rows << " rows, checksum " << checksum << " on both sides\n";
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
                                  "a checksum of every table; refuses when a table, index or sequence of its names exists "
                                  "there; names longer than the server keeps (63 bytes) are shortened to unique ones "
                                  "and listed. CONNECTION: Provider=PostgreSQL;Data Source=HOST;Location=DATABASE;"
                                  "User ID=USER (the password from PGPASSWORD or ~/.pgpass, or Password=- to type it)",
                                  migrate});

} // namespace
} // namespace jetdb
