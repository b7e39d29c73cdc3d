// The ado classes against a PostgreSQL server: a throwaway cluster of the
// test's own, registers moved there with `jetdb migrate`, and the same
// listings read from the .mdb they came from.
#include "TestDatabase.h"

#include "PostgresServer.h"
#include "ado/EDatabaseError.h"
#include "ado/PostgresDialect.h"
#include "jet/DefaultValue.h"
#include "jet/JetError.h"
#include "sql/DateLiteral.h"
#include "ado/TADOConnection.h"
#include "ado/TADODataSet.h"
#include "ado/TADOQuery.h"
#include "data/RegisterStatements.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcessEnvironment>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

namespace {

QString jetString(const QString& path)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path +
           QStringLiteral(";Persist Security Info=False");
}

struct ToolRun {
    int exitCode = -1;
    QString output; // standard output, then standard error
    QString standardOutput;
};

ToolRun jetdb(const QStringList& arguments)
{
    QProcess tool;
    tool.start(QStringLiteral(JETDB_PATH), arguments);
    tool.waitForFinished(300000);
    const QByteArray out = tool.readAllStandardOutput();
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(out + tool.readAllStandardError()), QString::fromUtf8(out)};
}

// Every cell's text, row by row, of a select opened on a connection
// (`prepare` sets the query's statement and parameters instead).
QStringList cellTexts(TADOConnection& connection, const QString& statement, QStringList* fieldNames = nullptr,
                      const std::function<void(TADOQuery&)>& prepare = {})
{
    TADOQuery query;
    query.setConnection(&connection);
    if (prepare) prepare(query);
    else query.setSQLText(statement);
    query.Open();
    QStringList rows;
    for (query.First(); !query.Eof(); query.Next()) {
        QStringList cells;
        for (int i = 0; i < query.FieldCount(); ++i) cells << query.Fields(i)->AsString();
        rows << cells.join(u'|');
    }
    if (fieldNames) *fieldNames = query.FieldNames();
    return rows;
}

class ServerRegister : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Qt's SQL drivers are plugins, loaded through the application object.
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "ado_tests";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv);
        }
        s_server = new PostgresServer;
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override
    {
        if (!s_server->installed()) GTEST_SKIP() << s_server->whyUnavailable().toStdString();
        ASSERT_TRUE(s_server->available()) << s_server->whyUnavailable().toStdString();
    }

    // A new database on the server; its connection string.
    QString newDatabase()
    {
        const QString name = QStringLiteral("db%1").arg(++s_databases);
        QString error;
        EXPECT_TRUE(s_server->createDatabase(name, &error)) << error.toStdString();
        m_database = name;
        return s_server->connectionString(name);
    }
    // A register made by jetdb demo (entries, the last `pending` not
    // exported) in files, moved into a new database; its connection string.
    QString migratedRegister(int entries, int pending)
    {
        m_file = m_files.makeRegister(QStringLiteral("vask.mdb"), entries, pending);
        const QString connection = newDatabase();
        const ToolRun migrated = jetdb({QStringLiteral("migrate"), m_file, connection});
        EXPECT_EQ(migrated.exitCode, 0) << migrated.output.toStdString();
        return connection;
    }
    QString psql(const QString& statement) { return s_server->psql(m_database, statement); }

    static PostgresServer* s_server;
    static int s_databases;
    TestDatabase m_files;
    QString m_file;
    QString m_database;
};

PostgresServer* ServerRegister::s_server = nullptr;
int ServerRegister::s_databases = 0;

// A server that cannot be reached or refuses the sign-in fails the opening
// with a message that names what went wrong and never the password.
TEST_F(ServerRegister, ConnectionFailuresNameTheCauseNeverThePassword)
{
    const QString good = newDatabase();
    const QString socket = s_server->socketFolder();
    const QString password = PostgresServer::password();
    struct Case {
        QString connectionString;
        const char* messagePart;
    } cases[] = {
        {QString(good).replace(password, QStringLiteral("wrong-") + password), "password authentication failed"},
        {QString(good).replace(QStringLiteral("Location=") + m_database, QStringLiteral("Location=nosuch")),
         "\"nosuch\" does not exist"},
        {QString(good).replace(socket, m_files.folder() + QStringLiteral("/nowhere")), "Cannot connect to database"},
        {QStringLiteral("Provider=PostgreSQL;Data Source=%1;User ID=usbkey;Password=\"%2\"").arg(socket, password),
         "names no Location"},
        {QString(good).replace(QStringLiteral("Port=5432"), QStringLiteral("Port=http")), "not a port number"},
        {QStringLiteral("Provider=MSDASQL;Extended Properties=\"DSN=usbkey-nosuch;PWD=%1\"").arg(password), "ODBC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectionString.toStdString());
        TADOConnection connection;
        connection.setConnectionString(c.connectionString);
        std::string message = "(opened)";
        try {
            connection.Open();
        } catch (const EDatabaseError& e) {
            message = e.message().toStdString();
        }
        EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
        EXPECT_EQ(message.find(password.toStdString()), std::string::npos) << message;
        EXPECT_FALSE(connection.Connected());
    }
}

// The program's statements give from the server what they give from the
// file the register came from: the listing newest first with every cell,
// the department listing with its join, the account lookup with its
// parameters.
TEST_F(ServerRegister, StatementsGiveWhatTheFileGives)
{
    TADOConnection server;
    server.setConnectionString(migratedRegister(300, 25));
    TADOConnection file;
    file.setConnectionString(jetString(m_file));
    const QString statements[] = {
        QStringLiteral("select * from all_key order by id desc"),
        QStringLiteral("select * from all_key where is_del = 1"),
        QStringLiteral("select a.*, b.p_name from SME_KEY_DEPT a left join SME_PROVINCE_LIST b on a.p_index = b.p_index "
                       "order by a.id"),
        QStringLiteral("select [USBKEY_SERIAL], username from all_key where add_date >= #1/1/1990# order by [id]"),
    };
    for (const QString& statement : statements) {
        SCOPED_TRACE(statement.toStdString());
        QStringList serverFields, fileFields;
        const QStringList fromServer = cellTexts(server, statement, &serverFields);
        const QStringList fromFile = cellTexts(file, statement, &fileFields);
        EXPECT_EQ(QStringList(serverFields).join(u',').toLower(), fileFields.join(u',').toLower());
        EXPECT_EQ(fromServer, fromFile);
    }
    EXPECT_EQ(cellTexts(server, statements[0]).size(), 300);

    const std::pair<QString, QString> accounts[] = {
        {"admin", "admin"}, {"admin", "it's wrong"}, {"admin", "\\' or 1=1 --"}, {"admin", ":password"}};
    for (const auto& account : accounts) {
        const QString& user = account.first;
        const QString& password = account.second;
        SCOPED_TRACE(password.toStdString());
        auto lookup = [&](TADOQuery& query) { RegisterStatements::accountLookup(query, user, password); };
        const QStringList fromServer = cellTexts(server, {}, nullptr, lookup);
        EXPECT_EQ(fromServer, cellTexts(file, {}, nullptr, lookup));
        EXPECT_EQ(fromServer.size(), password == "admin" ? 1 : 0);
    }
}

// Sort, bookmarks, Edit/Post and Delete work on records from the server and
// reach its table; with KeepConnection off the session ends with the last
// query.
TEST_F(ServerRegister, DataSetEditsReachTheServer)
{
    TADOConnection connection;
    connection.setConnectionString(migratedRegister(50, 5));
    connection.setKeepConnection(false);
    TADODataSet listing;
    listing.setConnection(&connection);
    listing.setCommandText(QStringLiteral("select * from all_key order by id desc"));
    listing.Open();
    ASSERT_EQ(listing.RecordCount(), 50);
    listing.setSort(QStringLiteral("id ASC"));
    listing.First();
    EXPECT_EQ(listing.FieldByName(QStringLiteral("id"))->AsInteger(), 1);
    listing.setRecNo(10);
    const TBookmark tenth = listing.GetBookmark();
    listing.Edit();
    listing.FieldByName(QStringLiteral("username"))->setAsString(QStringLiteral("改过的"));
    listing.Post();
    listing.setSort(QString());
    listing.GotoBookmark(tenth);
    EXPECT_EQ(listing.FieldByName(QStringLiteral("id"))->AsInteger(), 10);
    listing.Delete();
    EXPECT_EQ(listing.RecordCount(), 49);
    listing.Close();
    EXPECT_FALSE(connection.Connected());

    EXPECT_EQ(psql(QStringLiteral("select count(*) from all_key where id = 10")), QStringLiteral("0"));
    EXPECT_EQ(psql(QStringLiteral("select count(*) from all_key")), QStringLiteral("49"));
    TADOQuery check;
    check.setConnection(&connection);
    check.setSQLText(QStringLiteral("select username from all_key where username = '改过的'"));
    check.Open();
    EXPECT_EQ(check.RecordCount(), 0) << "the edit went to id 10, which is deleted";
}

// Two operators at once: a listing holds what it read while another
// deletes; deleting or changing an entry another operator deleted first is
// refused with a message saying why (the window then reads the register again).
TEST_F(ServerRegister, DeleteByOneOperatorAndListingByAnother)
{
    const QString register_ = migratedRegister(20, 0);
    TADOConnection first, second;
    first.setConnectionString(register_);
    second.setConnectionString(register_);
    TADOQuery listing;
    listing.setConnection(&first);
    listing.setSQLText(QStringLiteral("select * from all_key order by id desc"));
    listing.Open();
    EXPECT_EQ(second.Execute(QStringLiteral("delete from all_key where id = 20")), 1);
    ASSERT_EQ(listing.RecordCount(), 20);
    EXPECT_EQ(listing.FieldByName(QStringLiteral("id"))->AsInteger(), 20);
    listing.Edit();
    listing.FieldByName(QStringLiteral("username"))->setAsString(QStringLiteral("x"));
    try {
        listing.Post();
        ADD_FAILURE() << "a change of a deleted entry was accepted";
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("another user deleted it"))) << e.message().toStdString();
    }
    listing.Cancel();
    try {
        listing.Delete();
        ADD_FAILURE() << "the delete of an entry another operator deleted was reported done";
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("another user deleted it"))) << e.message().toStdString();
    }
    EXPECT_EQ(listing.RecordCount(), 20);
    listing.Close();
    listing.Open();
    EXPECT_EQ(listing.RecordCount(), 19);
    EXPECT_EQ(listing.FieldByName(QStringLiteral("id"))->AsInteger(), 19);
}

// A transaction spans statements on a server and on an Access file, and
// keeps the connection open with KeepConnection off.
TEST_F(ServerRegister, TransactionsSpanStatementsOnTheServerAndOnAFile)
{
    TADOConnection connection;
    connection.setConnectionString(migratedRegister(10, 10));
    connection.setKeepConnection(false);
    EXPECT_TRUE(connection.SupportsTransactions());
    connection.BeginTrans();
    EXPECT_EQ(connection.Execute(QStringLiteral("update all_key set is_del=2 where is_del=1")), 10);
    EXPECT_TRUE(connection.Connected());
    connection.RollbackTrans();
    EXPECT_FALSE(connection.Connected());
    EXPECT_EQ(psql(QStringLiteral("select count(*) from all_key where is_del = 1")), QStringLiteral("10"));

    TADOConnection file;
    file.setConnectionString(jetString(m_file));
    file.setKeepConnection(false);
    EXPECT_TRUE(file.SupportsTransactions());
    for (bool commit : {false, true}) {
        file.BeginTrans();
        EXPECT_EQ(file.Execute(QStringLiteral("update all_key set is_del=2 where id <= 3")), 3);
        EXPECT_EQ(file.Execute(QStringLiteral("delete from all_key where id = 4")), 1);
        EXPECT_TRUE(file.Connected());
        commit ? file.CommitTrans() : file.RollbackTrans();
        EXPECT_FALSE(file.Connected());
        TADOQuery left;
        left.setConnection(&file);
        left.setSQLText(QStringLiteral("select id from all_key where id <= 4 and is_del = 2"));
        left.Open();
        EXPECT_EQ(left.RecordCount(), commit ? 3 : 0) << (commit ? "committed" : "rolled back");
    }
}

// A statement the server ends to break a deadlock is classified as one to
// run again (the export's save starts over on it), whatever the server's
// message says; its transaction is gone.
TEST_F(ServerRegister, ADeadlockVictimIsToldToRunAgain)
{
    TADOConnection connection;
    connection.setConnectionString(migratedRegister(5, 5));
    connection.BeginTrans();
    // This session finds the deadlock first and is the one the server ends.
    connection.Execute(QStringLiteral("set deadlock_timeout = '100ms'"));
    connection.Execute(QStringLiteral("update all_key set username = 'a' where id = 1"));
    QProcess other;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGOPTIONS"), QStringLiteral("-c deadlock_timeout=30s"));
    other.setProcessEnvironment(environment);
    s_server->startPsql(other, m_database,
                        QStringLiteral("begin; update all_key set username = 'b' where id = 2; "
                                       "update all_key set username = 'b' where id = 1; commit;"));
    ASSERT_TRUE(other.waitForStarted(10000));
    // The other session holds entry 2 and waits for entry 1.
    for (int i = 0; i < 100 && psql(QStringLiteral("select count(*) from pg_locks where not granted")) == "0"; ++i)
        QThread::msleep(50);
    ASSERT_EQ(psql(QStringLiteral("select count(*) from pg_locks where not granted")), QStringLiteral("1"));
    EDatabaseError::Kind kind = EDatabaseError::Kind::Other;
    try {
        connection.Execute(QStringLiteral("update all_key set username = 'a' where id = 2"));
        ADD_FAILURE() << "no deadlock";
    } catch (const EDatabaseError& e) {
        kind = e.kind();
    }
    EXPECT_EQ(kind, EDatabaseError::Kind::Retry);
    connection.RollbackTrans();
    ASSERT_TRUE(other.waitForFinished(30000));
    EXPECT_EQ(other.exitCode(), 0) << other.readAllStandardError().toStdString();
    EXPECT_EQ(psql(QStringLiteral("select username from all_key where id in (1, 2) order by id")),
              QStringLiteral("b\nb"));
}

// What of Access's SQL the statements use becomes the server's; texts are
// quoted so that a backslash is a backslash whatever the server's settings,
// and quoted names pass untouched.
TEST(PostgresDialect, AccessSqlForTheServer)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("select [USBKEY_SERIAL] from [All Key]"), QStringLiteral("select \"usbkey_serial\" from \"all key\"")},
        {QStringLiteral("where d < #2024-05-01#"), QStringLiteral("where d < timestamp '2024-05-01 00:00:00'")},
        {QStringLiteral("where d = #5/1/2024 10:30:00#"), QStringLiteral("where d = timestamp '2024-05-01 10:30:00'")},
        {QStringLiteral("where n = '[x] #y# ''z'''"), QStringLiteral("where n = E'[x] #y# ''z'''")},
        {QStringLiteral("where n = 'C:\\dir\\' or n = ''"), QStringLiteral("where n = E'C:\\\\dir\\\\' or n = E''")},
        {QStringLiteral("values (E'it''s \\\\ \\' ok', 'x')"), QStringLiteral("values (E'it''s \\\\ \\' ok', E'x')")},
        {QStringLiteral("select \"Mixed#Name\" from t"), QStringLiteral("select \"Mixed#Name\" from t")},
    };
    for (const auto& [access, server] : cases) EXPECT_EQ(PostgresDialect::translate(access), server);
    for (const char* bad : {"where d = #someday#", "select [open from t", "where n = 'open"})
        EXPECT_THROW(PostgresDialect::translate(QString::fromLatin1(bad)), EDatabaseError) << bad;
    EXPECT_THROW(PostgresDialect::literal(std::u16string(u"a\0b", 3)), EDatabaseError);
}

// A #date# means one moment on a file and on a server: the statements, a
// column's default in the engine and the server's dialect read it alike, and
// refuse alike what is not a date.
TEST(PostgresDialect, DateLiteralsMeanWhatTheyMeanOnAFile)
{
    jet::ColumnDef column;
    column.type = jet::ColumnType::DateTime;
    column.utf8Name = "d";
    for (const char* text : {"1/31/24", "2024-01-31", "1/31/2024 10:00 PM", "12/31/99 23:59:59", "13:45", "2/29/2024"}) {
        SCOPED_TRACE(text);
        const std::optional<jet::DateTime> inSql = sql::DateLiteral::parse(text);
        ASSERT_TRUE(inSql);
        const std::string iso = jet::formatIsoDateTime(*inSql);
        const jet::Value byDefault = jet::evaluateDefault(jet::fromUtf8(std::string("#") + text + "#"), column, "test");
        EXPECT_EQ(jet::formatIsoDateTime(std::get<jet::DateTime>(byDefault)), iso);
        EXPECT_EQ(PostgresDialect::translate(QStringLiteral("where d = #%1#").arg(QLatin1String(text))),
                  QStringLiteral("where d = timestamp '%1'").arg(QString::fromStdString(iso)));
    }
    for (const char* text : {"2/30/2024", "2024-01-31'); drop table t; --", "1/31/2024 25:00", "31/1/2024"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(sql::DateLiteral::parse(text));
        EXPECT_THROW(jet::evaluateDefault(jet::fromUtf8(std::string("#") + text + "#"), column, "test"), jet::JetError);
        EXPECT_THROW(PostgresDialect::translate(QStringLiteral("where d = #%1#").arg(QLatin1String(text))), EDatabaseError);
    }
}

// migrate: the tables with their keys, the autonumber continuing after the
// highest id and the defaults the program relies on; a second migrate into
// the same database is refused and changes nothing.
TEST_F(ServerRegister, MigrateMakesAWorkingRegisterOnce)
{
    TADOConnection connection;
    const QString register_ = migratedRegister(100, 3);
    connection.setConnectionString(register_);
    // The highest ids deleted in the file first: new ones still follow the autonumber.
    EXPECT_EQ(connection.Execute(QStringLiteral("insert into all_key (USBKEY_SERIAL, username) values ('new', 'op')")), 1);
    EXPECT_EQ(psql(QStringLiteral("select id, is_del, add_date is not null from all_key where usbkey_serial = 'new'")),
              QStringLiteral("101|1|t"));
    EXPECT_EQ(psql(QStringLiteral("select count(*) from pg_indexes where tablename = 'all_key'")), QStringLiteral("3"));

    const ToolRun again = jetdb({QStringLiteral("migrate"), m_file, register_});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.output.contains(QStringLiteral("already has the table(s) all_key, counted"))) << again.output.toStdString();
    EXPECT_EQ(psql(QStringLiteral("select count(*) from all_key")), QStringLiteral("101"));

    const ToolRun wrong = jetdb({QStringLiteral("migrate"), m_file, jetString(m_file)});
    EXPECT_EQ(wrong.exitCode, 2) << wrong.output.toStdString();
}

// Access-made files of every column type move whole (migrate checks row
// counts and checksums read back through the server path), and the
// statements jetdb schema --sql postgresql prints make the same tables.
TEST_F(ServerRegister, AccessMadeFilesMoveWhole)
{
    for (const char* name : {"testV2003.mdb", "test2V1997.mdb", "fixedNumericTestV2003.mdb", "testUnicodeCompV2003.mdb",
                             "indexTestV2000.mdb"}) {
        SCOPED_TRACE(name);
        const QString file = m_files.copyOf(QString::fromLatin1(name));
        const QString connection = newDatabase();
        const ToolRun migrated = jetdb({QStringLiteral("migrate"), file, connection});
        EXPECT_EQ(migrated.exitCode, 0) << migrated.output.toStdString();
        EXPECT_TRUE(migrated.output.contains(QStringLiteral("committed"))) << migrated.output.toStdString();

        const ToolRun schema = jetdb({QStringLiteral("schema"), file, QStringLiteral("--sql"), QStringLiteral("postgresql")});
        ASSERT_EQ(schema.exitCode, 0) << schema.output.toStdString();
        newDatabase();
        bool ok = false;
        const QString applied = s_server->psql(m_database, schema.standardOutput, &ok);
        EXPECT_TRUE(ok) << applied.toStdString();
        const QString columns = QStringLiteral(
            "select string_agg(table_name || '.' || column_name || ':' || data_type, ',' order by table_name, "
            "ordinal_position) from information_schema.columns where table_schema = 'public'");
        const QString migratedDatabase = QStringLiteral("db%1").arg(s_databases - 1);
        EXPECT_EQ(psql(columns), s_server->psql(migratedDatabase, columns));
    }
}

} // namespace

namespace {

// A file made by jetdb create from a schema file; its path.
QString createdFile(TestDatabase& files, const QString& name, const QString& schema)
{
    const QString schemaFile = files.folder() + QStringLiteral("/") + name + QStringLiteral(".schema");
    QFile out(schemaFile);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(schema.toUtf8());
    out.close();
    const QString file = files.folder() + QStringLiteral("/") + name + QStringLiteral(".mdb");
    const ToolRun created = jetdb({QStringLiteral("create"), file, schemaFile});
    EXPECT_EQ(created.exitCode, 0) << created.output.toStdString();
    return file;
}

// The relations (tables, indexes, sequences) of a database's public schema.
const QString kRelations = QStringLiteral(
    "select string_agg(relname, ',' order by relname) from pg_class c join pg_namespace n on n.oid = c.relnamespace "
    "where n.nspname = 'public'");

} // namespace

// Names the server would cut to the same 63 bytes become unique short
// names, each listed in migrate's output; a migrate refused because one of
// its names is taken leaves the database as it was.
TEST_F(ServerRegister, MigrateShortensLongNamesToUniqueOnes)
{
    // 26 characters, 78 bytes in UTF-8: cut between two characters.
    const QString longColumn = QStringLiteral("加密锁外壳上由制造厂印好的序列号以及其所属批次的编号");
    const QString file = createdFile(m_files, QStringLiteral("long"), QStringLiteral(
        "table RegisterOfIssuedUsbKeysForTheWholeProvince\n"
        "  id long autoincrement\n"
        "  IssuingOperator text(20)\n"
        "  %1 text(40)\n"
        "  primary key (id)\n"
        "  index ByIssuingOperatorAndSerialNumber (IssuingOperator, %1)\n"
        "  index ByIssuingOperatorAndSerialNumberDescending (IssuingOperator desc, %1 desc)\n").arg(longColumn));
    ASSERT_EQ(jetdb({QStringLiteral("sql"), file,
                     QStringLiteral("insert into RegisterOfIssuedUsbKeysForTheWholeProvince (IssuingOperator, %1) "
                                    "values ('op', 'K-1')").arg(longColumn)}).exitCode, 0);
    const QString connection = newDatabase();
    const ToolRun migrated = jetdb({QStringLiteral("migrate"), file, connection});
    ASSERT_EQ(migrated.exitCode, 0) << migrated.output.toStdString();
    const QStringList renamed = migrated.standardOutput.split(u'\n').filter(QStringLiteral("renamed: "));
    EXPECT_EQ(renamed.size(), 3) << migrated.output.toStdString(); // the column and both indexes
    EXPECT_TRUE(migrated.output.contains(QStringLiteral("renamed: index 'ByIssuingOperatorAndSerialNumberDescending' of "
                                                        "table 'RegisterOfIssuedUsbKeysForTheWholeProvince' is \"")))
        << migrated.output.toStdString();

    const QString indexes = psql(QStringLiteral(
        "select string_agg(indexname, ',' order by indexname) from pg_indexes where tablename = "
        "'registerofissuedusbkeysforthewholeprovince'"));
    const QStringList names = indexes.split(u',');
    EXPECT_EQ(names.size(), 3) << indexes.toStdString();
    for (const QString& name : names) {
        EXPECT_LE(name.toUtf8().size(), 63) << name.toStdString();
        EXPECT_TRUE(renamed.join(u'\n').contains(name) || name.endsWith(QLatin1String("_pkey"))) << name.toStdString();
    }
    EXPECT_EQ(psql(QStringLiteral("select count(*) from registerofissuedusbkeysforthewholeprovince")), QStringLiteral("1"));

    // Into a database where one of those names is taken: refused before anything is made.
    const QString taken = names.filter(QStringLiteral("descending")).value(0, names.value(0));
    const QString second = newDatabase();
    psql(QStringLiteral("create sequence \"%1\"").arg(taken));
    const QString before = psql(kRelations);
    const ToolRun refused = jetdb({QStringLiteral("migrate"), file, second});
    EXPECT_EQ(refused.exitCode, 1) << refused.output.toStdString();
    EXPECT_TRUE(refused.output.contains(taken)) << refused.output.toStdString();
    EXPECT_EQ(psql(kRelations), before);
}

// The server's password reaches migrate from PGPASSWORD, ~/.pgpass or
// standard input (Password=-), a file's database password from
// JETDB_PASSWORD: the process list never shows them. The old form still
// works, with a warning.
TEST_F(ServerRegister, MigratePasswordsStayOffTheCommandLine)
{
    const QString filePassword = QStringLiteral("Tresor-9");
    const QString file = m_files.makeRegister(QStringLiteral("protected.mdb"), 2000, 10, filePassword);
    const QString serverPassword = PostgresServer::password();
    const QString home = m_files.folder() + QStringLiteral("/home");
    QDir().mkpath(home);
    {
        QFile pgpass(home + QStringLiteral("/.pgpass"));
        ASSERT_TRUE(pgpass.open(QIODevice::WriteOnly));
        pgpass.write(QStringLiteral("*:*:*:*:%1\n").arg(serverPassword).toUtf8());
        pgpass.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    struct Case {
        const char* name;
        QString password;      // what the connection string's Password= says; empty: none
        QString pgpassword;    // PGPASSWORD; empty: unset
        bool pgpassInHome;
        QByteArray input;      // standard input
        bool filePasswordOnCommandLine;
    };
    const Case cases[] = {
        {"PGPASSWORD", {}, serverPassword, false, {}, false},
        {"~/.pgpass", {}, {}, true, {}, false},
        {"Password=- from standard input", QStringLiteral("-"), {}, false, serverPassword.toUtf8() + "\n", false},
        {"both on the command line, as before", serverPassword, {}, false, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString connection = newDatabase();
        connection.replace(QStringLiteral("Password=\"%1\"").arg(serverPassword),
                           c.password.isEmpty() ? QString() : QStringLiteral("Password=\"%1\"").arg(c.password));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("PGPASSWORD"));
        environment.remove(QStringLiteral("PGPASSFILE"));
        environment.insert(QStringLiteral("HOME"), c.pgpassInHome ? home : m_files.folder());
        if (!c.pgpassword.isEmpty()) environment.insert(QStringLiteral("PGPASSWORD"), c.pgpassword);
        QStringList arguments{QStringLiteral("migrate"), file, connection};
        if (c.filePasswordOnCommandLine) arguments = QStringList{QStringLiteral("--password"), filePassword} + arguments;
        else environment.insert(QStringLiteral("JETDB_PASSWORD"), filePassword);

        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(JETDB_PATH), arguments);
        ASSERT_TRUE(tool.waitForStarted());
        // The process list as every user sees it, read while migrate runs.
        // (Read again for a moment while it still shows the program before the exec.)
        QByteArray commandLine;
        for (int attempt = 0; attempt < 200 && !commandLine.contains("migrate"); ++attempt) {
            if (attempt) QThread::msleep(10);
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(tool.processId()));
            if (cmdline.open(QIODevice::ReadOnly)) commandLine = cmdline.readAll();
        }
        ASSERT_TRUE(commandLine.contains("migrate")) << commandLine.toStdString();
        tool.write(c.input);
        tool.closeWriteChannel();
        ASSERT_TRUE(tool.waitForFinished(120000));
        const QString errors = QString::fromUtf8(tool.readAllStandardError());
        EXPECT_EQ(tool.exitCode(), 0) << errors.toStdString();
        EXPECT_TRUE(QString::fromUtf8(tool.readAllStandardOutput()).contains(QStringLiteral("committed")));
        const bool onCommandLine = c.filePasswordOnCommandLine;
        EXPECT_EQ(commandLine.contains(serverPassword.toUtf8()), onCommandLine);
        EXPECT_EQ(commandLine.contains(filePassword.toUtf8()), onCommandLine);
        EXPECT_EQ(errors.count(QStringLiteral("warning: ")), onCommandLine ? 2 : 0) << errors.toStdString();
        EXPECT_FALSE(errors.contains(serverPassword) || errors.contains(filePassword)) << errors.toStdString();
        EXPECT_EQ(psql(QStringLiteral("select count(*) from all_key")), QStringLiteral("2000"));
    }
}

// The export marks the ids it listed as parameters, however many: 70,000
// scattered ones (more than the 65,535 parameters a server statement may
// bind in one message) on the server and in the file.
TEST_F(ServerRegister, MarkingALongListOfScatteredIds)
{
    const QString server = migratedRegister(140000, 140000);
    std::vector<qint64> even;
    for (qint64 id = 2; id <= 140000; id += 2) even.push_back(id);
    for (const QString& connectionString : {server, jetString(m_file)}) {
        SCOPED_TRACE(connectionString.left(30).toStdString());
        TADOConnection connection;
        connection.setConnectionString(connectionString);
        TADOQuery query;
        query.setConnection(&connection);
        RegisterStatements::markExported(query, even);
        EXPECT_EQ(query.ExecSQL(), 70000);
        QStringList pending = cellTexts(connection, {}, nullptr, [](TADOQuery& q) {
            RegisterStatements::pendingAmong(q, {1, 2, 3, 139999, 140000});
        });
        pending.sort();
        EXPECT_EQ(pending, (QStringList{"1", "139999", "3"}));
    }
}

// A sort made by the dataset (a title click) puts a server register's texts
// in the order of the server's own `order by`, in the byte order of a "C"
// database and in the rules of a language's collation, ascending and
// descending; the rows the server counts equal keep their order.
TEST_F(ServerRegister, SortingTextsFollowsTheServersOrderBy)
{
    const QStringList texts = {
        "apple", "Apple", "APPLE", "Äpfel", "apfel", "éclair", "eclair", "Eclair", "Zebra", "zebra",
        "中文",  "中国",  "汉字",  "啊",    "a-b",   "a b",    "ab",     "a_b",    "!bang", "#hash",
        "1",     "10",    "9",     "ß",     "ss",    "Ω",      "ω",      "(x)",    "x)",    "apple"};
    QString values;
    for (int i = 0; i < texts.size(); ++i)
        values += QStringLiteral("%1(%2, '%3')").arg(i ? "," : "").arg(i + 1).arg(texts[i]);
    struct Collation {
        const char* name;
        QString creation;  // the clauses of `create database`; empty: the cluster's "C"
    };
    const Collation collations[] = {
        {"C", {}},
        {"ICU zh", QStringLiteral("template template0 encoding 'UTF8' locale 'C.UTF-8' locale_provider icu "
                                  "icu_locale 'zh'")},
        {"ICU en", QStringLiteral("template template0 encoding 'UTF8' locale 'C.UTF-8' locale_provider icu "
                                  "icu_locale 'en'")},
    };
    int sorted = 0;
    for (const Collation& collation : collations) {
        SCOPED_TRACE(collation.name);
        QString connectionString;
        if (collation.creation.isEmpty()) {
            connectionString = newDatabase();
        } else {
            m_database = QStringLiteral("db%1").arg(++s_databases);
            bool created = false;
            s_server->psql(QStringLiteral("postgres"),
                           QStringLiteral("create database %1 %2").arg(m_database, collation.creation), &created);
            if (!created) continue;  // a server built without ICU
            connectionString = s_server->connectionString(m_database);
        }
        bool ok = false;
        s_server->psql(m_database, "create table words (id integer primary key, word text); insert into words values " +
                                       values + ";",
                       &ok);
        ASSERT_TRUE(ok);
        TADOConnection connection;
        connection.setConnectionString(connectionString);
        TADODataSet listing;
        listing.setConnection(&connection);
        listing.setCommandText(QStringLiteral("select id, word from words order by id"));
        listing.Open();
        for (const char* direction : {"asc", "desc"}) {
            SCOPED_TRACE(direction);
            listing.setSort(QStringLiteral("word ") + QString::fromLatin1(direction).toUpper());
            QStringList got;
            for (listing.First(); !listing.Eof(); listing.Next())
                got << listing.FieldByName(QStringLiteral("word"))->AsString() + u'|' +
                           listing.FieldByName(QStringLiteral("id"))->AsString();
            const QString serverOrder =
                psql(QStringLiteral("select word || '|' || id from words order by word %1, id %2")
                         .arg(QLatin1String(direction), QLatin1String(direction) == QLatin1String("asc") ? "asc" : "desc"));
            // Equal texts keep the order they were read in, whichever way the sort goes.
            QStringList want = serverOrder.split(u'\n');
            if (QLatin1String(direction) == QLatin1String("desc")) {
                const qsizetype a = want.indexOf(QStringLiteral("apple|30")), b = want.indexOf(QStringLiteral("apple|1"));
                ASSERT_GE(a, 0);
                want.swapItemsAt(a, b);
            }
            EXPECT_EQ(got, want);
        }
        ++sorted;
    }
    EXPECT_GE(sorted, 1);
}
