// The main window and the sign-in on a register kept on a PostgreSQL server
// (a throwaway cluster of the test's own) that is restarted or down while
// they are open, and an entry another operator deletes: each action opens a
// session the server dropped once more, a server that cannot be reached
// leaves the list as it is and says so, and the reason is logged.
#include "AppTestSupport.h"

#include "PostgresServer.h"
#include "ado/TADOQuery.h"
#include "app/FindBar.h"
#include "app/TApplication.h"
#include "app/UMain.h"
#include "app/UnitDM.h"
#include "app/UnitLogin.h"
#include "data/TSaveDialog.h"
#include "data/UImport.h"
#include "grid/DBGridEx.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

// Warnings of the connection's logging category, while a test looks.
QStringList g_connectionLog;
QtMessageHandler g_previousHandler = nullptr;

void keepConnectionLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (context.category && QByteArray(context.category) == "usbkey.connection") g_connectionLog << text;
    if (g_previousHandler) g_previousHandler(type, context, text);
}

} // namespace

class ServerWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresServer> m_server;
    int m_databases = 0;
    QString m_database;
    std::unique_ptr<RegisterFolder> m_folder;
    std::unique_ptr<TDM> m_dm;
    std::unique_ptr<TFrmMain> m_main;

    QString psql(const QString& statement) const { return m_server->psql(m_database, statement); }

    // A register of `entries` moved to a new database, its connection
    // opened through the data link as the program opens it.
    void openRegister(int entries)
    {
        m_folder = std::make_unique<RegisterFolder>();
        QString error;
        QVERIFY2(m_folder->makeRegister(entries, 0, &error), qPrintable(error));
        m_database = QStringLiteral("window%1").arg(++m_databases);
        QVERIFY2(m_server->createDatabase(m_database, &error), qPrintable(error));
        const QString connection = m_server->connectionString(m_database);
        QProcess jetdb;
        jetdb.start(QStringLiteral(JETDB_PATH), {QStringLiteral("migrate"), m_folder->database(), connection});
        QVERIFY(jetdb.waitForFinished(120000));
        QVERIFY2(jetdb.exitCode() == 0, jetdb.readAllStandardError().constData());
        m_folder->writeDataLink(connection);
        m_dm = std::make_unique<TDM>(m_folder->path());
        QVERIFY2(m_dm->DataModuleCreate(), qPrintable(m_dm->ConnectionError()));
    }

    // The main window over such a register.
    void openMain(int entries)
    {
        openRegister(entries);
        if (QTest::currentTestFailed()) return;
        m_main = std::make_unique<TFrmMain>(m_dm.get(), [](TDM*) { return true; });
        m_main->DBGridEx1->setLayoutFolder(m_folder->path());
        m_main->DBGridEx2->setLayoutFolder(m_folder->path());
        m_main->show();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QCOMPARE(m_main->StatusPanelText(1), QString::number(entries));
    }

    void restartServer()
    {
        QVERIFY(m_server->stop());
        QVERIFY(m_server->start());
    }

    int currentId() const { return m_main->ADOQuery1->FieldByName(QStringLiteral("id"))->AsInteger(); }

private slots:
    void initTestCase()
    {
        TApplication::setUpLocalisation(*qApp);
        m_server = std::make_unique<PostgresServer>();
        if (!m_server->installed()) QSKIP(qPrintable(m_server->whyUnavailable()));
        QVERIFY2(m_server->available(), qPrintable(m_server->whyUnavailable()));
        g_previousHandler = qInstallMessageHandler(keepConnectionLog);
    }
    void cleanupTestCase()
    {
        qInstallMessageHandler(g_previousHandler);
        m_server.reset();
    }
    void init()
    {
        if (!m_server->available()) QVERIFY(m_server->start());
        g_connectionLog.clear();
    }
    void cleanup()
    {
        m_main.reset();
        m_dm.reset();
        m_folder.reset();
    }

    // The server restarted while the window is open (before the key, or
    // while the delete question is asked): Ctrl+Delete deletes as asked on a
    // new session, and F5 reads the register again.
    void deleteAndRefreshWorkAfterTheServerRestarted_data()
    {
        QTest::addColumn<bool>("duringTheQuestion");
        QTest::newRow("restarted before the key") << false;
        QTest::newRow("restarted while the question is asked") << true;
    }
    void deleteAndRefreshWorkAfterTheServerRestarted()
    {
        QFETCH(bool, duringTheQuestion);
        openMain(10);
        m_main->DBGridEx1->setFocus();
        QCOMPARE(currentId(), 10);
        ModalScript script;
        if (duringTheQuestion) {
            script.answerBox([&] { restartServer(); }, QMessageBox::Ok);
        } else {
            restartServer();
            script.answerBox(QMessageBox::Ok);
        }
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 1);
        QCOMPARE(script.boxes()[0].text, QStringLiteral("Delete record?"));
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key")), QStringLiteral("9"));
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key where id = 10")), QStringLiteral("0"));
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("9"));
        QVERIFY2(!g_connectionLog.isEmpty(), "the lost session was not logged");

        restartServer();
        psql(QStringLiteral("insert into all_key (usbkey_serial, username) values ('NEW-1', 'issuer')"));
        ModalScript none;
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F5);
        QVERIFY2(none.finish(), qPrintable(none.problems().join(u'\n')));
        QVERIFY(none.boxes().isEmpty());
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("10"));
        QCOMPARE(currentId(), 11);
    }

    // F5 and Ctrl+Delete with the server down: the list stays as it was, the
    // operator is told that the server cannot be reached and why, nothing
    // is deleted, and the reason is logged without the password. Once the
    // server is back, F5 works.
    void serverDownKeepsTheListAndSaysSo()
    {
        openMain(10);
        m_main->DBGridEx1->setFocus();
        QVERIFY(m_server->stop());
        ModalScript script;
        script.answerBox(QMessageBox::Ok).answerBox(QMessageBox::Ok);
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F5);
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 2);
        QCOMPARE(script.boxes()[0].text, TFrmMain::serverUnreachableOnRefreshMessage());
        QCOMPARE(script.boxes()[1].text, TFrmMain::serverUnreachableOnDeleteMessage());
        for (const SeenBox& box : script.boxes()) {
            QCOMPARE(box.caption, QStringLiteral("USBKEY管理系统"));
            QVERIFY2(!box.informative.isEmpty(), "the box does not say why");
            QVERIFY(!box.informative.contains(PostgresServer::password()));
        }
        QCOMPARE(m_main->ADOQuery1->RecordCount(), 10);
        QCOMPARE(m_main->DBGridEx1->model()->rowCount(), 10);
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("10"));
        QCOMPARE(currentId(), 10);
        QVERIFY2(!g_connectionLog.isEmpty(), "the failure was not logged");
        for (const QString& line : g_connectionLog) QVERIFY(!line.contains(PostgresServer::password()));

        QVERIFY(m_server->start());
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key")), QStringLiteral("10"));
        psql(QStringLiteral("delete from all_key where id = 1"));
        ModalScript none;
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F5);
        QVERIFY2(none.finish(), qPrintable(none.problems().join(u'\n')));
        QVERIFY(none.boxes().isEmpty());
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("9"));
    }

    // Ctrl+Delete on an entry another operator deleted: the server's delete
    // finds no row, the list is read again, the operator is told, and no
    // other entry is deleted.
    void ctrlDeleteOnAnEntryAnotherOperatorDeleted()
    {
        openMain(10);
        m_main->DBGridEx1->setFocus();
        QCOMPARE(currentId(), 10);
        psql(QStringLiteral("delete from all_key where id = 10"));
        ModalScript script;
        script.answerBox(QMessageBox::Ok).answerBox(QMessageBox::Ok);
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 2);
        QCOMPARE(script.boxes()[0].text, QStringLiteral("Delete record?"));
        QCOMPARE(script.boxes()[1].text, TFrmMain::entryGoneMessage());
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key")), QStringLiteral("9"));
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("9"));
        QCOMPARE(m_main->ADOQuery1->RecordCount(), 9);
        QCOMPARE(currentId(), 9);
    }

    // The export dialog's build and save after the server restarted while
    // the main window kept the connection open: each once more on a new
    // session, the entries saved and marked.
    void exportWorksAfterTheServerRestarted()
    {
        openMain(10);
        psql(QStringLiteral("update all_key set is_del = 1 where id > 6"));
        TFrmImport dialog(m_dm->ADOConn, m_main.get());
        const QString target = m_folder->filePath(QStringLiteral("keys.xml"));
        dialog.SaveDialog1->setChooser([&](QWidget*, const QString&) { return target; });
        dialog.show();
        restartServer();
        ModalScript script;
        script.answerBox(QMessageBox::Ok);
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
        QCOMPARE(dialog.Memo1->toPlainText().count(QStringLiteral("<record>")), 4);
        restartServer();
        QTest::mouseClick(dialog.Button2, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 1);
        QCOMPARE(script.boxes()[0].text, TFrmImport::savedMessage(target));
        QCOMPARE(psql(QStringLiteral("select count(*) from all_key where is_del = 1")), QStringLiteral("0"));
        QVERIFY(QFile::exists(target));
    }

    // The find bar on a server register: it walks the rows the grid shows,
    // in its order (newest first, then sorted by id), letter case ignored,
    // and says in the bar when nothing matches.
    void findBarFindsOnAServerRegister()
    {
        openMain(10);
        TADOQuery update;
        update.setConnection(m_dm->ADOConn);
        update.setSQLText(QStringLiteral("update all_key set USBKEY_SERIAL = :serial, username = :name where id = :id"));
        const struct {
            int id;
            const char* serial;
            const char* name;
        } entries[] = {{7, "KX-7", "Zhang Wei"}, {3, "kx-3", "ZHAO"}};
        for (const auto& entry : entries) {
            update.Parameters().ParamByName(QStringLiteral("serial"))->setAsString(QString::fromUtf8(entry.serial));
            update.Parameters().ParamByName(QStringLiteral("name"))->setAsString(QString::fromUtf8(entry.name));
            update.Parameters().ParamByName(QStringLiteral("id"))->setAsInteger(entry.id);
            QCOMPARE(update.ExecSQL(), 1);
        }
        m_main->action_Refresh->trigger();
        QCOMPARE(currentId(), 10);

        m_main->DBGridEx1->setFocus();
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F, Qt::ControlModifier);
        QLineEdit* edit = m_main->FindBar1->Edit;
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));
        ModalScript script;
        QTest::keyClicks(edit, QStringLiteral("zha"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(currentId(), 7);
        QTest::keyClick(edit, Qt::Key_F3);
        QCOMPARE(currentId(), 3);
        QTest::keyClick(edit, Qt::Key_F3);
        QCOMPARE(currentId(), 7);
        QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(currentId(), 3);

        // Sorted by id (1 … 10), the next match after 3 is 7, and after 7 it is 3 again.
        QHeaderView* titles = m_main->DBGridEx1->horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                          QPoint(titles->sectionViewportPosition(0) + titles->sectionSize(0) / 2, titles->height() / 2));
        QCOMPARE(m_main->ADOQuery1->RecNo(), 3);
        QTest::keyClick(edit, Qt::Key_F3);
        QCOMPARE(currentId(), 7);
        QCOMPARE(m_main->ADOQuery1->RecNo(), 7);

        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("KX-3"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(currentId(), 3);
        QCOMPARE(m_main->FindBar1->Result->text(), QString());

        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("nobody"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(m_main->FindBar1->Result->text(), FindBar::notFoundText());
        QCOMPARE(currentId(), 3);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QVERIFY(script.boxes().isEmpty());
    }

    // Signing in after the server restarted since start-up opened the
    // connection: once more on a new session.
    void signInAfterTheServerRestarted()
    {
        openRegister(3);
        QVERIFY(m_dm->ADOConn->Connected());
        TFrmLogin login(m_dm->ADOConn);
        login.show();
        restartServer();
        login.edt1->setText(QStringLiteral("admin"));
        login.edt2->setText(QStringLiteral("admin"));
        ModalScript none;
        QTest::mouseClick(login.btnOK, Qt::LeftButton);
        QVERIFY2(none.finish(), qPrintable(none.problems().join(u'\n')));
        QCOMPARE(login.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(ServerWindowTest)
#include "ServerWindowTest.moc"
