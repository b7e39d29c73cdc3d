// The main window over a demo register: listing, count, refresh from every
// place, deletion, sorting, export and the way out.
#include "AppTestSupport.h"

#include "ado/TADOQuery.h"
#include "app/FindBar.h"
#include "app/TApplication.h"
#include "app/UMain.h"
#include "app/UnitDM.h"
#include "data/TSaveDialog.h"
#include "data/UImport.h"
#include "grid/DBGridEx.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

#include <memory>

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RegisterFolder> m_folder;
    std::unique_ptr<TDM> m_dm;
    std::unique_ptr<TFrmMain> m_main;

    void openMain(int entries, int pending = 0, const QStringList& demoOptions = {})
    {
        m_folder = std::make_unique<RegisterFolder>();
        QString error;
        QVERIFY2(m_folder->makeRegister(entries, pending, &error, QString(), false, demoOptions), qPrintable(error));
        m_dm = std::make_unique<TDM>(m_folder->path());
        QVERIFY2(m_dm->DataModuleCreate(), qPrintable(m_dm->ConnectionError()));
        m_main = std::make_unique<TFrmMain>(m_dm.get(), [](TDM*) { return true; });
        m_main->DBGridEx1->setLayoutFolder(m_folder->path());
        m_main->DBGridEx2->setLayoutFolder(m_folder->path());
        m_main->show();
        QVERIFY(QTest::qWaitForWindowActive(m_main.get()));
    }

    // Ids as the grid lists them, top down.
    QList<int> listedIds() const
    {
        QList<int> ids;
        TField* id = m_main->ADOQuery1->FieldByName(QStringLiteral("id"));
        for (int row = 0; row < m_main->ADOQuery1->RecordCount(); ++row) ids << id->AsStringAt(row).toInt();
        return ids;
    }

    void recordEntry()
    {
        TADOQuery insert;
        insert.setConnection(m_dm->ADOConn);
        insert.setSQLText(QStringLiteral("insert into all_key (USBKEY_SERIAL, username) values ('NEW-1', 'admin')"));
        QCOMPARE(insert.ExecSQL(), 1);
    }

    static QAction* menuItem(QMenuBar* bar, const QString& menu, const QString& item)
    {
        for (QAction* top : bar->actions())
            if (top->text() == menu && top->menu())
                for (QAction* action : top->menu()->actions())
                    if (action->text() == item) return action;
        return nullptr;
    }

    // Entries the find tests look for, besides the demo's USBK-… serials of
    // "admin" and "operator": ids 21, 22, 23 over a demo register of 20.
    void recordFindEntries()
    {
        TADOQuery insert;
        insert.setConnection(m_dm->ADOConn);
        insert.setSQLText(QStringLiteral("insert into all_key (USBKEY_SERIAL, username) values (:serial, :name)"));
        const char* entries[][2] = {{"KX-100", "Zhang Wei"}, {"KX-200", "wang"}, {"kx-300", "ZHAO"}};
        for (const auto& entry : entries) {
            insert.Parameters().ParamByName(QStringLiteral("serial"))->setAsString(QString::fromUtf8(entry[0]));
            insert.Parameters().ParamByName(QStringLiteral("name"))->setAsString(QString::fromUtf8(entry[1]));
            QCOMPARE(insert.ExecSQL(), 1);
        }
        m_main->action_Refresh->trigger();
        QCOMPARE(listedIds().mid(0, 3), (QList<int>{23, 22, 21}));
    }

    int currentId() const { return m_main->ADOQuery1->FieldByName(QStringLiteral("id"))->AsInteger(); }

    void clickTitle(int column)
    {
        QHeaderView* titles = m_main->DBGridEx1->horizontalHeader();
        const QPoint title(titles->sectionViewportPosition(column) + titles->sectionSize(column) / 2, titles->height() / 2);
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, title);
    }

    QPoint cellCentre(int record, int column) const
    {
        return m_main->DBGridEx1->visualRect(m_main->DBGridEx1->model()->index(record, column)).center();
    }

private slots:
    void initTestCase() { TApplication::setUpLocalisation(*qApp); }

    void cleanup()
    {
        m_main.reset();
        m_dm.reset();
        m_folder.reset();
    }

    void showsTheRegisterNewestFirstWithItsCount_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<QStringList>("demoOptions");
        QTest::newRow("200 entries") << 200 << QStringList{};
        QTest::newRow("empty register") << 0 << QStringList{};
        QTest::newRow("Access 97 register") << 200 << QStringList{QStringLiteral("--jet3")};
        QTest::newRow("Access 2010 register (.accdb)") << 200 << QStringList{QStringLiteral("--accdb")};
    }
    void showsTheRegisterNewestFirstWithItsCount()
    {
        QFETCH(int, entries);
        QFETCH(QStringList, demoOptions);
        openMain(entries, 0, demoOptions);
        QCOMPARE(m_main->windowTitle(), QStringLiteral("新型加密锁管理"));
        QCOMPARE(m_main->StatusPanelText(0), QStringLiteral("数量"));
        QCOMPARE(m_main->StatusPanelText(1), QString::number(entries));
        QCOMPARE(m_main->DBGridEx1->model()->rowCount(), entries);
        QVERIFY(m_main->DBGridEx1->isVisible());
        QVERIFY(!m_main->DBGridEx2->isVisible());
        if (entries > 0) {
            QCOMPARE(listedIds().first(), entries);
            QCOMPARE(listedIds().last(), 1);
        }
        // The layout of a first run is recorded at once.
        QVERIFY(QFile::exists(m_folder->filePath(QStringLiteral("ColumnINFO.ini"))));
    }

    void refreshComesFromEveryPlace_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("tool bar") << "toolbar";
        QTest::newRow("menu") << "menu";
        QTest::newRow("context menu") << "popup";
        QTest::newRow("F5") << "f5";
    }
    void refreshComesFromEveryPlace()
    {
        QFETCH(QString, from);
        openMain(20);
        recordEntry();
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("20"));

        if (from == QLatin1String("toolbar")) {
            QCOMPARE(m_main->ToolButton5->text(), QStringLiteral("刷新信息"));
            QTest::mouseClick(m_main->ToolButton5, Qt::LeftButton);
        } else if (from == QLatin1String("menu")) {
            QAction* item = menuItem(m_main->MM, QStringLiteral("编辑"), QStringLiteral("刷新信息"));
            QVERIFY(item);
            item->trigger();
        } else if (from == QLatin1String("popup")) {
            QTest::mousePress(m_main->DBGridEx1->viewport(), Qt::RightButton, {}, cellCentre(2, 1));
            auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QCOMPARE(popup, m_main->PopupMenu1);
            QCOMPARE(popup->actions().size(), 2);
            QCOMPARE(popup->actions()[0]->text(), QStringLiteral("导出数据"));
            QAction* refresh = popup->actions()[1];
            QCOMPARE(refresh->text(), QStringLiteral("刷新信息"));
            QTest::mouseRelease(m_main->DBGridEx1->viewport(), Qt::RightButton, {}, cellCentre(2, 1));
            QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(refresh).center());
        } else {
            m_main->DBGridEx1->setFocus();
            QTest::keyClick(m_main->DBGridEx1, Qt::Key_F5);
        }
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("21"));
        QCOMPARE(listedIds().first(), 21);
    }

    void ctrlDeleteAsksThenDeletes_data()
    {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QStringList>("demoOptions");
        QTest::newRow("OK") << QMessageBox::Ok << true << QStringList{};
        QTest::newRow("Cancel") << QMessageBox::Cancel << false << QStringList{};
        QTest::newRow("OK, Access 97 register") << QMessageBox::Ok << true << QStringList{QStringLiteral("--jet3")};
        QTest::newRow("OK, Access 2010 register (.accdb)") << QMessageBox::Ok << true << QStringList{QStringLiteral("--accdb")};
    }
    void ctrlDeleteAsksThenDeletes()
    {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, deleted);
        QFETCH(QStringList, demoOptions);
        openMain(10, 0, demoOptions);
        m_main->DBGridEx1->setFocus();
        QCOMPARE(m_main->ADOQuery1->RecNo(), 1); // id 10

        ModalScript script;
        script.answerBox(answer);
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 1);
        QCOMPARE(script.boxes()[0].caption, QStringLiteral("Confirm"));
        QCOMPARE(script.boxes()[0].text, QStringLiteral("Delete record?"));

        const QMap<int, int> inFile = RegisterFolder::exportStates(m_folder->database());
        QCOMPARE(inFile.contains(10), !deleted);
        QCOMPARE(inFile.size(), deleted ? 9 : 10);
        QCOMPARE(listedIds().contains(10), !deleted);
        QCOMPARE(m_main->DBGridEx1->model()->rowCount(), deleted ? 9 : 10);
        QCOMPARE(m_main->StatusPanelText(1), deleted ? QStringLiteral("9") : QStringLiteral("10"));
    }

    void ctrlDeleteOnAnEmptyRegisterDoesNothing()
    {
        openMain(0);
        m_main->DBGridEx1->setFocus();
        ModalScript script;
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_Delete, Qt::ControlModifier);
        QTest::qWait(100);
        QVERIFY(script.boxes().isEmpty());
        QVERIFY(script.problems().isEmpty());
    }

    // Rows are read as the grid reaches them: scrolled to entries another
    // program deleted meanwhile, the grid shows the register as it is now,
    // with its count.
    void anotherProgramsDeleteShowsWhereTheGridScrolls()
    {
        openMain(3000);
        QCOMPARE(m_main->ADOQuery1->FieldByName(QStringLiteral("id"))->AsInteger(), 3000);
        {
            TADOConnection other;
            other.setConnectionString(m_dm->ADOConn->ConnectionString());
            other.setLoginPrompt(false);
            QCOMPARE(other.Execute(QStringLiteral("delete from all_key where id <= 1500")), int64_t(1500));
        }
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_End, Qt::ControlModifier);
        m_main->DBGridEx1->viewport()->grab();  // paints the rows at the end, not read yet
        QTest::qWait(20);
        QCOMPARE(m_main->ADOQuery1->RecordCount(), 1500);
        QCOMPARE(m_main->DBGridEx1->model()->rowCount(), 1500);
        QCOMPARE(m_main->StatusPanelText(1), QStringLiteral("1500"));
        QCOMPARE(listedIds().last(), 1501);
        m_main->DBGridEx1->viewport()->grab();
    }

    // Unused, the find bar leaves the window as it was; Ctrl+F from the
    // grid opens it with the focus in its text, Esc closes it and gives the
    // grid the focus back; the Edit menu's item opens it too.
    void ctrlFOpensTheFindBarAndEscClosesIt()
    {
        openMain(5);
        FindBar* bar = m_main->FindBar1;
        QVERIFY(!bar->isVisible());
        QCOMPARE(m_main->ToolBar1->actions().size(), 4); // three buttons and a separator, as before
        m_main->DBGridEx1->setFocus();
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->Caption->text(), QStringLiteral("查找："));
        QVERIFY(bar->geometry().top() >= m_main->DBGridEx1->geometry().bottom()); // under the grid
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(bar->Edit));

        QTest::keyClick(bar->Edit, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m_main->DBGridEx1));

        QAction* item = menuItem(m_main->MM, QStringLiteral("编辑"), QStringLiteral("查找..."));
        QVERIFY(item);
        QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
        item->trigger();
        QVERIFY(bar->isVisible());
    }

    // Keys pressed in the find bar's text and the entry current after each.
    // The grid lists 23, 22, 21, 20 … 1 (newest first) unless a title
    // click sorted it by serial: 21 (KX-100), 22, 23 (kx-300), then the
    // USBK-… entries.
    void findMovesThroughTheMatchesInTheGridsOrder_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("sortedBySerial");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QList<int>>("currentIds");
        QTest::newRow("serial prefix, Enter") << "KX-2" << false << QStringList{"Enter"} << QList<int>{22};
        QTest::newRow("F3 on and round, Shift+F3 back round")
            << "kx" << false << QStringList{"Enter", "F3", "F3", "Shift+F3", "Shift+F3"} << QList<int>{22, 21, 23, 21, 22};
        QTest::newRow("user name, letter case ignored")
            << "zha" << false << QStringList{"Enter", "F3", "Shift+Enter"} << QList<int>{21, 23, 21};
        QTest::newRow("surrounding spaces ignored") << "  wang " << false << QStringList{"Enter"} << QList<int>{22};
        QTest::newRow("the only match is found again") << "kx-3" << false << QStringList{"F3", "F3"} << QList<int>{23, 23};
        QTest::newRow("demo serial far down the list")
            << "USBK-00007919" << false << QStringList{"Enter"} << QList<int>{2};
        QTest::newRow("after a title click, the sorted order")
            << "KX" << true << QStringList{"Enter", "F3", "F3", "Shift+F3"} << QList<int>{21, 22, 23, 22};
    }
    void findMovesThroughTheMatchesInTheGridsOrder()
    {
        QFETCH(QString, text);
        QFETCH(bool, sortedBySerial);
        QFETCH(QStringList, keys);
        QFETCH(QList<int>, currentIds);
        openMain(20);
        recordFindEntries();
        if (sortedBySerial) {
            clickTitle(1);
            QCOMPARE(listedIds().mid(0, 4), (QList<int>{21, 22, 23, 1}));
        }
        QCOMPARE(currentId(), 23);

        m_main->DBGridEx1->setFocus();
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F, Qt::ControlModifier);
        QLineEdit* edit = m_main->FindBar1->Edit;
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));
        QTest::keyClicks(edit, text);
        ModalScript script;
        for (int i = 0; i < keys.size(); ++i) {
            const QString& key = keys[i];
            if (key == QLatin1String("Enter")) QTest::keyClick(edit, Qt::Key_Return);
            else if (key == QLatin1String("Shift+Enter")) QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
            else if (key == QLatin1String("F3")) QTest::keyClick(edit, Qt::Key_F3);
            else QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
            QCOMPARE(currentId(), currentIds[i]);
            // The grid shows it as its current row; the focus stays in the bar.
            QCOMPARE(m_main->DBGridEx1->currentIndex().row(), m_main->ADOQuery1->currentIndex());
            QCOMPARE(m_main->FindBar1->Result->text(), QString());
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));
        }
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QVERIFY(script.boxes().isEmpty());
    }

    // A register read as the grid reaches it: the find reads on through the
    // rows not read yet, forward and, wrapping round the top, backward.
    void findWalksALargeRegisterBothWays()
    {
        openMain(10000);
        QCOMPARE(currentId(), 10000);
        m_main->DBGridEx1->setFocus();
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F, Qt::ControlModifier);
        QLineEdit* edit = m_main->FindBar1->Edit;
        QTest::keyClicks(edit, QStringLiteral("usbk-39587081")); // id 5000's serial
        QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(currentId(), 5000);
        QCOMPARE(m_main->DBGridEx1->currentIndex().row(), 5000);
        QTest::keyClick(edit, Qt::Key_F3);
        QCOMPARE(currentId(), 5000);

        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("OPERATOR")); // the user of every even id
        QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(currentId(), 5002); // up the list: newer entries
        m_main->DBGridEx1->setFocus();
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(currentId(), 10000);
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(currentId(), 2);
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F3);
        QCOMPARE(currentId(), 10000);
        QCOMPARE(m_main->FindBar1->Result->text(), QString());
    }

    // No match is said in the bar, without a box, and the current entry
    // stays; typing again clears it.
    void noMatchIsSaidInTheBar()
    {
        openMain(20);
        recordFindEntries();
        m_main->DBGridEx1->setFocus();
        QTest::keyClick(m_main->DBGridEx1, Qt::Key_F, Qt::ControlModifier);
        QLineEdit* edit = m_main->FindBar1->Edit;
        QTest::keyClicks(edit, QStringLiteral("nobody"));
        ModalScript script;
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QVERIFY(script.boxes().isEmpty());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(m_main->FindBar1->Result->text(), QStringLiteral("未找到"));
        QVERIFY(m_main->FindBar1->Result->isVisible());
        QCOMPARE(currentId(), 23);

        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(m_main->FindBar1->Result->text(), QString());
    }

    void titleClickSortsUntilTheNextReload()
    {
        openMain(30);
        QHeaderView* titles = m_main->DBGridEx1->horizontalHeader();
        const QPoint idTitle(titles->sectionViewportPosition(0) + titles->sectionSize(0) / 2, titles->height() / 2);
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, idTitle);
        QCOMPARE(listedIds().first(), 1);
        QCOMPARE(m_main->DBGridEx1->Columns()[0]->Title()->Caption(), QStringLiteral("id↓"));

        m_main->action_Refresh->trigger();
        QCOMPARE(listedIds().first(), 30);
        QCOMPARE(m_main->DBGridEx1->Columns()[0]->Title()->Caption(), QStringLiteral("id"));
    }

    void exportActionOpensTheExportDialog()
    {
        openMain(5, 2);
        const QString target = m_folder->filePath(QStringLiteral("keys.xml"));
        ModalScript script;
        script.onDialog<TFrmImport>([&](TFrmImport* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("数据导出"));
            QCOMPARE(dialog->parent(), m_main.get());
            dialog->SaveDialog1->setChooser([&](QWidget*, const QString&) { return target; });
            QTest::mouseClick(dialog->Button1, Qt::LeftButton);
            QTest::mouseClick(dialog->Button2, Qt::LeftButton); // answered below
            dialog->close();
        });
        script.answerBox(QMessageBox::Ok);
        m_main->find_entp->trigger();
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QVERIFY(QFile::exists(target));
        QCOMPARE(RegisterFolder::exportStates(m_folder->database()).value(5), 2);
        QVERIFY(m_main->findChildren<TFrmImport*>().isEmpty()); // freed when closed
    }

    // Closing saves the layout, then asks; only Yes closes. The exit action
    // and its tool bar button close the same way.
    void closingSavesTheLayoutAndAsks_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("close box, No") << "close" << QMessageBox::No;
        QTest::newRow("close box, Yes") << "close" << QMessageBox::Yes;
        QTest::newRow("exit menu, Yes") << "menu" << QMessageBox::Yes;
        QTest::newRow("exit button, No") << "toolbar" << QMessageBox::No;
    }
    void closingSavesTheLayoutAndAsks()
    {
        QFETCH(QString, way);
        QFETCH(QMessageBox::StandardButton, answer);
        openMain(5);
        const QString layoutFile = m_folder->filePath(QStringLiteral("ColumnINFO.ini"));
        m_main->DBGridEx1->Columns()[1]->setWidth(123);

        ModalScript script;
        script.answerBox(answer);
        if (way == QLatin1String("close")) m_main->close();
        else if (way == QLatin1String("menu")) menuItem(m_main->MM, QStringLiteral("文件"), QStringLiteral("退出"))->trigger();
        else QTest::mouseClick(m_main->ToolButton2, Qt::LeftButton);
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));

        QCOMPARE(script.boxes().size(), 1);
        QCOMPARE(script.boxes()[0].text, QStringLiteral("确定要退出本系统吗？"));
        QCOMPARE(script.boxes()[0].caption, QStringLiteral("USBKEY管理系统"));
        QCOMPARE(script.boxes()[0].icon, QMessageBox::Information);
        QCOMPARE(m_main->isVisible(), answer == QMessageBox::No);
        QFile layout(layoutFile);
        QVERIFY(layout.open(QIODevice::ReadOnly));
        QVERIFY(layout.readAll().contains("USBKEY_SERIAL=123"));
    }

    // A folder that refuses the layout file must not trap the operator.
    void refusedLayoutWriteStillAsks()
    {
        openMain(5);
        const QString layoutFile = m_folder->filePath(QStringLiteral("ColumnINFO.ini"));
        QVERIFY(QFile::setPermissions(layoutFile, QFile::ReadOwner | QFile::ReadUser));
        m_main->DBGridEx1->Columns()[1]->setWidth(123);

        ModalScript script;
        script.answerBox(QMessageBox::Ok).answerBox(QMessageBox::Yes);
        m_main->close();
        QVERIFY2(script.finish(), qPrintable(script.problems().join(u'\n')));
        QCOMPARE(script.boxes().size(), 2);
        QVERIFY2(script.boxes()[0].text.startsWith(QStringLiteral("Unable to write to ")), qPrintable(script.boxes()[0].text));
        QCOMPARE(script.boxes()[0].icon, QMessageBox::Critical);
        QCOMPARE(script.boxes()[1].text, QStringLiteral("确定要退出本系统吗？"));
        QVERIFY(!m_main->isVisible());
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
