// The program with its register on a PostgreSQL server (a throwaway
// cluster of the test's own, the register moved there by jetdb migrate):
// start-up through the data link, the export dialog, and two operators'
// exports saving at the same moment.
#include "AppTestSupport.h"

#include "PostgresServer.h"
#include "ado/TADOQuery.h"
#include "app/TApplication.h"
#include "app/UMain.h"
#include "app/UnitDM.h"
#include "app/UnitLogin.h"
#include "qtcommon/DefaultErrorDisplay.h"
#include "data/TSaveDialog.h"
#include "data/UImport.h"
#include "grid/DBGridEx.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace {

// The ids of the records an export file holds.
QList<int> idsInFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QList<int> ids;
    static const QRegularExpression id(QStringLiteral("<data_id>(\\d+)</data_id>"));
    for (auto it = id.globalMatch(QString::fromLatin1(file.readAll())); it.hasNext();) ids << it.next().captured(1).toInt();
    return ids;
}

} // namespace

class ServerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresServer> m_server;
    int m_databases = 0;
    QString m_database;

    // A register of `entries` (the last `pending` not exported) moved into a
    // new database; its connection string.
    QString serverRegister(RegisterFolder& folder, int entries, int pending)
    {
        QString error;
        if (!folder.makeRegister(entries, pending, &error)) qWarning() << error;
        m_database = QStringLiteral("app%1").arg(++m_databases);
        if (!m_server->createDatabase(m_database, &error)) qWarning() << error;
        const QString connection = m_server->connectionString(m_database);
        QProcess jetdb;
        jetdb.start(QStringLiteral(JETDB_PATH), {QStringLiteral("migrate"), folder.database(), connection});
        jetdb.waitForFinished(120000);
        if (jetdb.exitCode() != 0) qWarning() << jetdb.readAllStandardError();
        return connection;
    }
    QString psql(const QString& statement) const { return m_server->psql(m_database, statement); }

    // The start-up probe copied beside db/ and run; the windows it reported.
    static QStringList start(const RegisterFolder& folder, int& exitCode)
    {
        const QString program = folder.filePath(QStringLiteral("start_probe"));
        QFile::copy(QStringLiteral(START_PROBE_PATH), program);
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The user's application data, where the program keeps its log.
        environment.insert(QStringLiteral("XDG_DATA_HOME"), folder.filePath(QStringLiteral("userdata")));
        probe.setProcessEnvironment(environment);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(program, {});
        probe.waitForFinished(30000);
        exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
        return QString::fromUtf8(probe.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        TApplication::setUpLocalisation(*qApp);
        m_server = std::make_unique<PostgresServer>();
        if (!m_server->installed()) QSKIP(qPrintable(m_server->whyUnavailable()));
        QVERIFY2(m_server->available(), qPrintable(m_server->whyUnavailable()));
    }
    void cleanupTestCase() { m_server.reset(); }

    // A data link naming the server starts the program at the sign-in; a
    // wrong password or an unreachable server ends it with the connection
    // message, as a missing file does, and the driver's reason goes to the
    // program's log (never the password).
    void dataLinkToTheServer_data()
    {
        QTest::addColumn<QString>("change"); // what replaces the password in the string
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("logged"); // a piece of the log; empty: no log
        const QString failed = QStringLiteral("USBKEY管理系统|数据库连接错误，系统退出。");
        QTest::newRow("the server") << PostgresServer::password() << "window|登录" << "";
        QTest::newRow("a wrong password") << QStringLiteral("wrong-Geheim") << failed
                                          << "password authentication failed for user \"usbkey\"";
        QTest::newRow("an unreachable server") << QString() << failed << "nowhere/.s.PGSQL.5432";
    }
    void dataLinkToTheServer()
    {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        QFETCH(QString, logged);
        RegisterFolder folder;
        QString connection = serverRegister(folder, 5, 1);
        QFile::remove(folder.database()); // the program must not fall back on the file
        if (change.isEmpty()) connection.replace(m_server->socketFolder(), folder.filePath(QStringLiteral("nowhere")));
        else connection.replace(PostgresServer::password(), change);
        folder.writeDataLink(connection);
        QFile::setPermissions(folder.filePath(QStringLiteral("db/connection.udl")), QFile::ReadOwner | QFile::WriteOwner);
        int exitCode = -1;
        const QStringList windows = start(folder, exitCode);
        QCOMPARE(windows.size(), 1);
        // A failure's reason follows the message, never the password.
        QCOMPARE(windows[0].section(u'|', 0, 1), expected);
        QCOMPARE(windows[0] == expected, expected.startsWith(QLatin1String("window|")));
        QVERIFY(!windows[0].contains(PostgresServer::password()));
        QCOMPARE(exitCode, expected.startsWith(QLatin1String("window|")) ? 0 : 1);
        QFile log(folder.filePath(QStringLiteral("userdata/usbkey/usbkey.log")));
        const QString logText = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
        if (logged.isEmpty()) QVERIFY2(logText.isEmpty(), qPrintable(logText));
        else QVERIFY2(logText.contains(logged), qPrintable(logText));
        QVERIFY2(!logText.contains(QStringLiteral("Geheim")), qPrintable(logText));
    }

    // Sign-in, the listing with its count, a title-click sort and Ctrl+Delete
    // through the main window, on the server.
    void signInListAndDelete()
    {
        RegisterFolder folder;
        folder.writeDataLink(serverRegister(folder, 10, 2));
        TDM dm(folder.path());
        QVERIFY2(dm.DataModuleCreate(), qPrintable(dm.ConnectionError()));
        {
            TFrmLogin login(dm.ADOConn);
            login.show();
            login.edt1->setText(QStringLiteral("admin"));
            login.edt2->setText(QStringLiteral("wrong"));
            ModalScript script;
            script.answerBox(QMessageBox::Ok);
            QTest::mouseClick(login.btnOK, Qt::LeftButton);
            QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
            QCOMPARE(script.boxes().value(0).text, TFrmLogin::failedMessage());
            login.edt2->setText(QStringLiteral("admin"));
            QTest::mouseClick(login.btnOK, Qt::LeftButton);
            QCOMPARE(login.result(), int(QDialog::Accepted));
        }
        TFrmMain main(&dm, [](TDM*) { return true; });
        main.DBGridEx1->setLayoutFolder(folder.path());
        main.DBGridEx2->setLayoutFolder(folder.path());
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        QCOMPARE(main.StatusPanelText(1), QStringLiteral("10"));
        QCOMPARE(main.ADOQuery1->FieldByName(QStringLiteral("id"))->AsInteger(), 10);

        QTest::mouseClick(main.DBGridEx1->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(main.DBGridEx1->horizontalHeader()->sectionViewportPosition(0) + 5, 5));
        main.ADOQuery1->First();
        QCOMPARE(main.ADOQuery1->FieldByName(QStringLiteral("id"))->AsInteger(), 1);

        main.DBGridEx1->setFocus();
        ModalScript script;
        script.answerBox(QMessageBox::Ok);
        QTest::keyClick(main.DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(main.StatusPanelText(1), QStringLiteral("9"));
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key where id = 1")), QStringLiteral("0"));
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key")), QStringLiteral("9"));
    }

    // A server whose strings read backslash escapes (a setting a DBA may
    // choose): what the operator types reaches it as a value, so a
    // backslash before an apostrophe opens no way around the password.
    void signInWithBackslashEscapesOn_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("backslash, quote, always-true") << "\\' or 1=1 --" << "anything" << false;
        QTest::newRow("in the password") << "admin" << "\\' or 1=1 --" << false;
        QTest::newRow("backslash kept as typed") << "admin" << "admin\\" << false;
        QTest::newRow("the real account") << "admin" << "admin" << true;
    }
    void signInWithBackslashEscapesOn()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);
        RegisterFolder folder;
        folder.writeDataLink(serverRegister(folder, 3, 1));
        bool ok = false;
        m_server->psql(m_database, QStringLiteral("alter database %1 set standard_conforming_strings = off").arg(m_database), &ok);
        QVERIFY(ok);
        TDM dm(folder.path());
        QVERIFY2(dm.DataModuleCreate(), qPrintable(dm.ConnectionError()));
        TFrmLogin login(dm.ADOConn);
        login.show();
        login.edt1->setText(user);
        login.edt2->setText(password);
        ModalScript script;
        if (!accepted) script.answerBox(QMessageBox::Ok);
        QTest::mouseClick(login.btnOK, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(login.result(), int(accepted ? QDialog::Accepted : QDialog::Rejected));
        if (!accepted) QCOMPARE(script.boxes().value(0).text, TFrmLogin::failedMessage());
        QCOMPARE(psql(QStringLiteral("show standard_conforming_strings")), QStringLiteral("off"));
    }

    // Two operators build the export of the same pending entries; the first
    // save takes them all, the second writes no file, marks nothing twice
    // and says how many another operator took.
    void secondDialogSaysWhatTheFirstTook()
    {
        RegisterFolder folder;
        const QString connection = serverRegister(folder, 30, 6);
        folder.writeDataLink(connection);
        TDM first(folder.path()), second(folder.path());
        QVERIFY2(first.DataModuleCreate(), qPrintable(first.ConnectionError()));
        QVERIFY2(second.DataModuleCreate(), qPrintable(second.ConnectionError()));
        TFrmImport one(first.ADOConn, nullptr), two(second.ADOConn, nullptr);
        const QString fileOne = folder.filePath(QStringLiteral("one.xml")), fileTwo = folder.filePath(QStringLiteral("two.xml"));
        one.SaveDialog1->setChooser([&](QWidget*, const QString&) { return fileOne; });
        two.SaveDialog1->setChooser([&](QWidget*, const QString&) { return fileTwo; });
        one.show();
        two.show();
        QTest::mouseClick(one.Button1, Qt::LeftButton);
        QTest::mouseClick(two.Button1, Qt::LeftButton);
        QCOMPARE(one.Memo1->toPlainText().count(QStringLiteral("<record>")), 6);
        QCOMPARE(two.Memo1->toPlainText().count(QStringLiteral("<record>")), 6);

        ModalScript script;
        script.answerBox(QMessageBox::Ok).answerBox(QMessageBox::Ok);
        QTest::mouseClick(one.Button2, Qt::LeftButton);
        QTest::mouseClick(two.Button2, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 2);
        QCOMPARE(script.boxes()[0].text, TFrmImport::savedMessage(fileOne));
        QCOMPARE(script.boxes()[1].text, TFrmImport::nothingSavedMessage(6));
        QCOMPARE(idsInFile(fileOne), (QList<int>{25, 26, 27, 28, 29, 30}));
        QVERIFY(!QFile::exists(fileTwo));
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key where is_del = 1")), QStringLiteral("0"));
    }

    // Two export processes list the same pending entries and save at the
    // same moment, three times over: no entry is in both files, every
    // pending entry is in one, and exactly those are marked.
    void concurrentExportsNeverShareAnEntry()
    {
        RegisterFolder folder;
        const QString connection = serverRegister(folder, 3000, 2000);
        for (int round = 0; round < 3; ++round) {
            if (round > 0) psql(QStringLiteral("update all_key set is_del = 1 where id % 3 = %1").arg(round));
            const QSet<int> pending = [&] {
                QSet<int> ids;
                for (const QString& id : psql(QStringLiteral("select id from all_key where is_del = 1")).split(u'\n'))
                    ids << id.toInt();
                return ids;
            }();
            const QString go = folder.filePath(QStringLiteral("go%1").arg(round));
            QStringList files;
            std::vector<std::unique_ptr<QProcess>> probes;
            for (int i = 0; i < 2; ++i) {
                files << folder.filePath(QStringLiteral("export%1-%2.xml").arg(round).arg(i));
                probes.push_back(std::make_unique<QProcess>());
                probes.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
                probes.back()->start(QStringLiteral(SERVER_EXPORT_PROBE_PATH), {connection, files.back(), go});
            }
            for (auto& probe : probes) {
                QVERIFY(probe->waitForReadyRead(60000));
                QCOMPARE(probe->readLine().trimmed(), QByteArray("listed ") + QByteArray::number(pending.size()));
            }
            QFile(go).open(QIODevice::WriteOnly);
            qsizetype marked = 0;
            for (auto& probe : probes) {
                QVERIFY(probe->waitForFinished(120000));
                QCOMPARE(probe->exitCode(), 0);
                const QList<QByteArray> words = probe->readAll().trimmed().split(' ');
                QCOMPARE(words.size(), 4);
                marked += words[1].toLongLong();
            }
            const QList<int> inFirst = idsInFile(files[0]), inSecond = idsInFile(files[1]);
            const QSet<int> first(inFirst.begin(), inFirst.end()), second(inSecond.begin(), inSecond.end());
            QVERIFY(!first.intersects(second));
            QCOMPARE(first + second, pending);
            QCOMPARE(marked, pending.size());
            QCOMPARE(psql(QStringLiteral("select count(*) from all_key where is_del = 1")), QStringLiteral("0"));
        }
    }
};

QTEST_MAIN(ServerTest)
#include "ServerTest.moc"
