// The main window over an Access register that another program changes
// meanwhile (jetdb, as the program that issues keys writes): the window
// notices on its own and when it gains the focus, keeps the operator's sort
// and current entry, never while a modal window runs, and never offers an
// entry that is gone for deletion.
#include "AppTestSupport.h"

#include "ado/TADOQuery.h"
#include "app/TApplication.h"
#include "app/UMain.h"
#include "app/UnitDM.h"
#include "data/UImport.h"
#include "grid/DBGridEx.h"

#include <QHeaderView>
#include <QtTest>

#include <algorithm>
#include <memory>

class MainWindowChangesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RegisterFolder> m_folder;
    std::unique_ptr<TDM> m_dm;
    std::unique_ptr<TFrmMain> m_main;

    void openMain(int entries, int pending = 0)
    {
        m_folder = std::make_unique<RegisterFolder>();
        QString error;
        QVERIFY2(m_folder->makeRegister(entries, pending, &error), qPrintable(error));
        m_dm = std::make_unique<TDM>(m_folder->path());
        QVERIFY2(m_dm->DataModuleCreate(), qPrintable(m_dm->ConnectionError()));
        m_main = std::make_unique<TFrmMain>(m_dm.get(), [](TDM*) { return true; });
        m_main->DBGridEx1->setLayoutFolder(m_folder->path());
        m_main->DBGridEx2->setLayoutFolder(m_folder->path());
        m_main->show();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    }

    // A statement run by another program (jetdb) on the register.
    void otherProgram(const QString& statement)
    {
        QProcess jetdb;
        jetdb.start(QStringLiteral(JETDB_PATH), {QStringLiteral("sql"), m_folder->database(), statement});
        QVERIFY(jetdb.waitForFinished(60000));
        QVERIFY2(jetdb.exitCode() == 0, jetdb.readAllStandardError().constData());
    }

    QList<int> listedIds() const
    {
        QList<int> ids;
        TField* id = m_main->ADOQuery1->FieldByName(QStringLiteral("id"));
        for (int row = 0; row < m_main->ADOQuery1->RecordCount(); ++row) ids << id->AsStringAt(row).toInt();
        return ids;
    }
    int currentId() const { return m_main->ADOQuery1->FieldByName(QStringLiteral("id"))->AsInteger(); }

private slots:
    void initTestCase() { TApplication::setUpLocalisation(*qApp); }

    void cleanup()
    {
        m_main.reset();
        m_dm.reset();
        m_folder.reset();
    }

    // Another program deletes and records entries: within a few seconds the
    // rows it deleted are gone (those already read too), the count follows,
    // and the operator's sort and current entry stay; when the current
    // entry itself goes, the one now at its place is current.
    void anotherProgramsChangesShowOnTheirOwn()
    {
        openMain(3000);
        QHeaderView* titles = m_main->DBGridEx1->horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                          QPoint(titles->sectionViewportPosition(0) + titles->sectionSize(0) / 2, titles->height() / 2));
        QCOMPARE(listedIds().mid(0, 3), (QList<int>{1, 2, 3}));
        m_main->ADOQuery1->setRecNo(20);
        QCOMPARE(currentId(), 20);

        otherProgram(QStringLiteral("delete from all_key where (id >= 10 and id <= 15) or id = 25"));
        otherProgram(QStringLiteral("insert into all_key (USBKEY_SERIAL, username) values ('NEW-1', 'issuer')"));
        QTRY_COMPARE_WITH_TIMEOUT(m_main->StatusPanelText(1), QStringLiteral("2994"), 10000);
        QCOMPARE(m_main->DBGridEx1->model()->rowCount(), 2994);
        QCOMPARE(currentId(), 20);
        const QList<int> ids = listedIds();
        QCOMPARE(ids.mid(0, 10), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 16}));
        QVERIFY(!ids.contains(25));
        QCOMPARE(ids.last(), 3001);
        QCOMPARE(m_main->DBGridEx1->Columns()[0]->Title()->Caption(), QStringLiteral("id↓"));

        otherProgram(QStringLiteral("delete from all_key where id = 20"));
        QTRY_COMPARE_WITH_TIMEOUT(m_main->StatusPanelText(1), QStringLiteral("2993"), 10000);
        QCOMPARE(currentId(), 21);
        QVERIFY(!listedIds().contains(20));
    }

    // The window gaining the focus looks at once.
    void gainingTheFocusLooksAtTheRegister()
    {
        openMain(50);
        m_main->Timer1->stop();
        QWidget elsewhere;
        elsewhere.show();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        otherProgram(QStringLiteral("insert into all_key (USBKEY_SERIAL, username) values ('NEW-1', 'issuer')"));
        QTest::qWait(100);
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("50"));
        m_main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
        QTRY_COMPARE_WITH_TIMEOUT(m_main->StatusPanelText(1), QStringLiteral("51"), 1000);
        QCOMPARE(listedIds().first(), 51);
    }

    // While the export dialog runs, the list stays as it is, whatever
    // another program does; it is read again once the dialog has closed.
    void nothingChangesUnderAModalWindow()
    {
        openMain(50, 5);
        m_main->Timer1->setInterval(50);
        QString countDuring;
        uint64_t generationBefore = 0, generationDuring = 0;
        ModalScript script;
        script.onDialog<TFrmImport>([&](TFrmImport* dialog) {
            generationBefore = m_main->ADOQuery1->Generation();
            otherProgram(QStringLiteral("delete from all_key where id >= 49"));
            QTest::qWait(600);
            countDuring = m_main->StatusPanelText(1);
            generationDuring = m_main->ADOQuery1->Generation();
            dialog->close();
        });
        m_main->find_entp->trigger();
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(countDuring, QStringLiteral("50"));
        QCOMPARE(generationDuring, generationBefore);
        QTRY_COMPARE_WITH_TIMEOUT(m_main->StatusPanelText(1), QStringLiteral("48"), 5000);
        QCOMPARE(listedIds().first(), 48);
    }

    // Ctrl+Delete on an entry another program deleted (before the key, or
    // while the question is asked): the operator is told, the list is read
    // again, and no other entry is deleted.
    void ctrlDeleteOnAnEntryAnotherProgramDeleted_data()
    {
        QTest::addColumn<bool>("duringTheQuestion");
        QTest::newRow("deleted before the key") << false;
        QTest::newRow("deleted while the question is asked") << true;
    }
    void ctrlDeleteOnAnEntryAnotherProgramDeleted()
    {
        QFETCH(bool, duringTheQuestion);
        openMain(20);
        m_main->Timer1->stop(); // only the key's own look may notice
        m_main->DBGridEx1->setFocus();
        QCOMPARE(currentId(), 20);
        ModalScript script;
        if (duringTheQuestion) {
            script.answerBox([&] { otherProgram(QStringLiteral("delete from all_key where id = 20")); }, QMessageBox::Ok);
        } else {
            otherProgram(QStringLiteral("delete from all_key where id = 20"));
        }
        script.answerBox(QMessageBox::Ok);
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));

        QCOMPARE(script.boxes().size(), duringTheQuestion ? 2 : 1);
        if (duringTheQuestion) QCOMPARE(script.boxes()[0].text, QStringLiteral("Delete record?"));
        const SeenBox& told = script.boxes().last();
        QCOMPARE(told.text, TFrmMain::entryGoneMessage());
        QCOMPARE(told.caption, QStringLiteral("USBKEY管理系统"));
        const QMap<int, int> inFile = RegisterFolder::exportStates(m_folder->database());
        QCOMPARE(inFile.size(), 19);
        QVERIFY(inFile.contains(19));
        QList<int> newestFirst = inFile.keys();
        std::reverse(newestFirst.begin(), newestFirst.end());
        QCOMPARE(listedIds(), newestFirst);
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("19"));
    }
};

QTEST_MAIN(MainWindowChangesTest)
#include "MainWindowChangesTest.moc"
