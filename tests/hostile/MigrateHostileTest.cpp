// jetdb migrate with files made to attack the server: names, defaults and
// values that would end a quoted name or text, or start a statement of
// their own, were they pasted into statement text. The databases read
// backslash escapes in strings (standard_conforming_strings off, a setting
// a DBA may choose), under which doubled apostrophes alone do not hold.
// Each migrate makes the file's tables with exactly its names and rows
// (migrate compares every table's rows by checksum before it commits), or
// leaves a default out with a warning naming its column; no other object
// ever appears on the server. Covered in tests/ado/ServerProviderTest.cpp:
// names longer than the server keeps, a refused migrate leaving the
// database as it was.
#include "AppTestSupport.h"
#include "HostileSupport.h"

#include "PostgresServer.h"

#include <QtTest>

#include <memory>

class MigrateHostileTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresServer> m_server;
    QTemporaryDir m_dir;
    int m_databases = 0;

    struct Run {
        int exitCode = -1;
        QString output, errors;
    };
    static Run jetdb(const QStringList& arguments)
    {
        QProcess tool;
        tool.start(QStringLiteral(JETDB_PATH), arguments);
        tool.waitForFinished(120000);
        return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
                QString::fromUtf8(tool.readAllStandardOutput()), QString::fromUtf8(tool.readAllStandardError())};
    }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<PostgresServer>();
        if (!m_server->installed()) QSKIP(qPrintable(m_server->whyUnavailable()));
        QVERIFY2(m_server->available(), qPrintable(m_server->whyUnavailable()));
    }
    void cleanupTestCase() { m_server.reset(); }

    void hostileFilesMakeOnlyTheirTables_data()
    {
        QTest::addColumn<QString>("schema");    // the schema file for jetdb create (one table, t unless named)
        QTest::addColumn<QStringList>("rows");  // insert statements for jetdb sql
        QTest::addColumn<QString>("warning");   // a piece of migrate's warning; empty: none
        QTest::addColumn<QString>("check");     // a psql select on the migrated database ...
        QTest::addColumn<QString>("expected");  // ... and what it gives

        const QString table = QStringLiteral("table t\n  id long autoincrement\n  primary key (id)\n");
        const QString pwned = QStringLiteral("create table pwned (x int)");
        // As the file was reported, its column last and no key after it to spoil the statements that follow.
        QTest::newRow("a date default that closes its literal")
            << QStringLiteral("table t\n  id long autoincrement\n  dt datetime default #2020-01-01'); %1; create table t2 (dt "
                              "timestamp default '2020-01-01#\n").arg(pwned)
            << QStringList{} << "column 'dt'"
            << "select count(*) from information_schema.columns where column_default is not null and table_name = 't' "
               "and column_name = 'dt'"
            << "0";
        QTest::newRow("a text default that ends its quote with a backslash")
            << table + QStringLiteral("  note text(80) default \"x\\'); %1; --\"\n").arg(pwned) << QStringList{} << ""
            << "insert into t default values returning note" << "x\\'); create table pwned (x int); --";
        QTest::newRow("a text default with doubled quotes and backslashes")
            << table + QStringLiteral("  note text(80) default 'it''s \\\\'' \\'\n") << QStringList{} << ""
            << "insert into t default values returning note" << "it's \\\\' \\";
        QTest::newRow("a default of two statements")
            << table + QStringLiteral("  n long default 1; %1\n").arg(pwned) << QStringList{} << "column 'n'"
            << "insert into t default values returning coalesce(n, -1)" << "-1";
        QTest::newRow("a default calling a server function")
            << table + QStringLiteral("  d datetime default pg_sleep(30)\n") << QStringList{} << "column 'd'"
            << "insert into t default values returning d is null" << "t";
        QTest::newRow("a default with a control character in its column's name")
            << table + QStringLiteral("  c\x1b[2Jx text(10) default x'y\n") << QStringList{} << "column 'c?[2Jx'"
            << "select count(*) from information_schema.columns where table_name = 't'" << "2";
        QTest::newRow("names with quotes, semicolons and backslashes")
            << QStringLiteral("table e\"v;il'\\\n  id\"; long autoincrement\n  n'\\\" text(20)\n  primary key (id\";)\n"
                              "  index i\";%1 (n'\\\")\n").arg(QStringLiteral("drop"))
            << QStringList{QStringLiteral("insert into [e\"v;il'\\] ([n'\\\"]) values ('a')")} << ""
            << "select string_agg(relname, '|' order by relname) from pg_class c join pg_namespace n on "
               "n.oid = c.relnamespace where n.nspname = 'public'"
            << "e\"v;il'\\|e\"v;il'\\_i\";drop|e\"v;il'\\_id\";_seq|e\"v;il'\\_pkey";
        QTest::newRow("values that end quotes under backslash escapes")
            << table + QStringLiteral("  s text(80)\n  m memo\n")
            << QStringList{QStringLiteral("insert into t (s, m) values ('\\''); %1; --', 'x\\')").arg(pwned),
                           QStringLiteral("insert into t (s, m) values ('$$''; %1; $$', 'E''\\\\'' ); %1; --')").arg(pwned),
                           QStringLiteral("insert into t (s, m) values ('\\x41', '\\\\x41''::bytea')")}
            << "" << "select string_agg(s || '|' || m, ' / ' order by id) from t"
            << "\\'); create table pwned (x int); --|x\\ / $$'; create table pwned (x int); $$|E'\\\\' ); create "
               "table pwned (x int); -- / \\x41|\\\\x41'::bytea";
    }

    // Whatever the file holds: its tables and nothing else on the server.
    void hostileFilesMakeOnlyTheirTables()
    {
        QFETCH(QString, schema);
        QFETCH(QStringList, rows);
        QFETCH(QString, warning);
        QFETCH(QString, check);
        QFETCH(QString, expected);

        const QString name = QStringLiteral("hostile%1").arg(++m_databases);
        const QString schemaFile = m_dir.filePath(name + QStringLiteral(".schema"));
        hostile::writeBytes(schemaFile, schema.toUtf8());
        const QString file = m_dir.filePath(name + QStringLiteral(".mdb"));
        const Run created = jetdb({QStringLiteral("create"), file, schemaFile});
        QVERIFY2(created.exitCode == 0, qPrintable(created.errors));
        for (const QString& row : rows) {
            const Run inserted = jetdb({QStringLiteral("sql"), file, row});
            QVERIFY2(inserted.exitCode == 0, qPrintable(row + u'\n' + inserted.errors));
        }

        QString error;
        QVERIFY2(m_server->createDatabase(name, &error), qPrintable(error));
        bool ok = false;
        m_server->psql(name, QStringLiteral("alter database %1 set standard_conforming_strings = off").arg(name), &ok);
        QVERIFY(ok);
        const Run migrated = jetdb({QStringLiteral("migrate"), file, m_server->connectionString(name)});
        QVERIFY2(migrated.exitCode == 0, qPrintable(migrated.output + migrated.errors));
        QVERIFY2(migrated.output.contains(QStringLiteral("committed: 1 tables")), qPrintable(migrated.output));
        QCOMPARE(m_server->psql(name, QStringLiteral("show standard_conforming_strings")), QStringLiteral("off"));
        QCOMPARE(m_server->psql(name, QStringLiteral("select count(*) from pg_class where relname like '%pwned%' or "
                                                     "relname = 't2'")),
                 QStringLiteral("0"));
        QCOMPARE(m_server->psql(name, QStringLiteral("select count(*) from information_schema.tables where "
                                                     "table_schema = 'public'")),
                 QStringLiteral("1"));
        const QStringList warnings = migrated.errors.split(u'\n').filter(QStringLiteral("jetdb migrate: warning:"));
        if (warning.isEmpty()) {
            QVERIFY2(warnings.isEmpty(), qPrintable(migrated.errors));
        } else {
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings[0].contains(warning), qPrintable(warnings[0]));
        }
        QVERIFY2(!(migrated.output + migrated.errors).contains(QChar(0x1b)), "a control character reached the terminal");

        QCOMPARE(m_server->psql(name, check), expected);
    }
};

REGISTER_HOSTILE_TEST(MigrateHostileTest);

#include "MigrateHostileTest.moc"
