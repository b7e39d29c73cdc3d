// Hostile statements given to `jetdb sql` on a register: each ends in time
// with its answer or a short message naming the trouble (exit 1), never a
// crash, and a refused change leaves the file as it was. The program builds
// no statement from what an operator types or the register holds: those
// values go as parameters (SignInHostileTest).
// Covered in-process in tests/sql/StatementErrorTest.cpp: every syntax error
// with its position, 100000-deep nesting and 100000-term conditions, damaged
// copies of valid statements.
#include "AppTestSupport.h"
#include "HostileSupport.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

QByteArray times(const QByteArray& piece, int n) { return piece.repeated(n); }

} // namespace

class StatementHostileTest : public QObject {
    Q_OBJECT

    RegisterFolder m_folder;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_folder.makeRegister(20, 5, &error), qPrintable(error));
    }

    void hostileStatements_data()
    {
        QTest::addColumn<QByteArray>("statement");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("answer"); // a piece of stderr on exit 1, the whole stdout on exit 0

        // Arguments are limited to 128 KiB each on Linux: the texts stay below.
        const QByteArray longText = times("a", 100000);
        QTest::newRow("50000 parentheses deep")
            << "select * from all_key where " + times("(", 50000) + "id = 1" + times(")", 50000) << 1
            << QByteArray("Query is too complex");
        QTest::newRow("parentheses never closed")
            << "select * from all_key where " + times("(", 60000) << 1 << QByteArray("Query is too complex");
        QTest::newRow("a 100000-character literal compared")
            << "select id from all_key where username = '" + longText + "'" << 0 << QByteArray();
        QTest::newRow("a 100000-character literal stored")
            << "update all_key set username = '" + longText + "' where id = 1" << 1 << QByteArray("username");
        QTest::newRow("a 100000-character literal inserted")
            << "insert into all_key (USBKEY_SERIAL) values ('" + longText + "')" << 1 << QByteArray("USBKEY_SERIAL");
        QTest::newRow("unterminated 100000-character literal")
            << "select * from all_key where username = '" + longText << 1 << QByteArray("the closing quote is missing");
        QTest::newRow("unterminated name")
            << "select * from [" + longText << 1 << QByteArray("the closing ']' is missing");
        QTest::newRow("unterminated date") << QByteArray("select * from all_key where add_date = #2025-01-01 10:00")
                                           << 1 << QByteArray("the closing '#' is missing");
        QTest::newRow("a number of 100000 digits")
            << "select * from all_key where id = " + times("9", 100000) << 1 << QByteArray("Overflow");
        QTest::newRow("a name of 100000 letters") << "select " + longText + " from all_key" << 1
                                                  << QByteArray("Unknown field name");
        QTest::newRow("a table name of 100000 letters")
            << "select * from " + longText << 1 << QByteArray("Cannot find the input table");
        QTest::newRow("a control character outside a literal")
            << QByteArray("select * from all_key where id = 1 \x1b") << 1 << QByteArray("Invalid character");
        QTest::newRow("a comment that hides the condition")
            << QByteArray("delete from all_key -- where id = 1") << 1 << QByteArray("Characters found after end");
        QTest::newRow("two statements") << QByteArray("update all_key set is_del = 2; delete from all_key") << 1
                                        << QByteArray("Characters found after end");
    }

    void hostileStatements()
    {
        QFETCH(QByteArray, statement);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, answer);
        const QByteArray before = hostile::sha256(m_folder.database());

        QProcess jetdb;
        jetdb.start(QStringLiteral(JETDB_PATH), {QStringLiteral("sql"), m_folder.database(), QString::fromUtf8(statement)});
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(jetdb.waitForFinished(30000), "no answer within 30 s");
        QCOMPARE(jetdb.exitStatus(), QProcess::NormalExit);
        const QByteArray out = jetdb.readAllStandardOutput();
        const QByteArray err = jetdb.readAllStandardError();
        QVERIFY2(jetdb.exitCode() == exitCode, err.left(500).constData());
        if (exitCode == 0) {
            QCOMPARE(out, answer);
        } else {
            QVERIFY2(err.contains(answer), err.left(500).constData());
            // A short message: the statement is not echoed whole.
            QVERIFY2(err.size() < 1000, qPrintable(QStringLiteral("%1 bytes of message").arg(err.size())));
        }
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
        QCOMPARE(hostile::sha256(m_folder.database()), before);
    }
};

REGISTER_HOSTILE_TEST(StatementHostileTest);

#include "StatementHostileTest.moc"
