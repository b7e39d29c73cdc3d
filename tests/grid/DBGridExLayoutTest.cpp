#include "GridTestSupport.h"
#include "MemoryDataSet.h"
#include "TestRegistry.h"

#include "grid/DBGridEx.h"
#include "qtcommon/GbkText.h"
#include "grid/IniFile.h"
#include "grid/UColumnCaptions.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kBase = QStringLiteral("FrmMainDBGridEx1");

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Types text into a cell of the caption dialog through its editor, as the
// keyboard and an input method do.
QLineEdit* editCaption(TFrmColumnCaptions* dialog, int row)
{
    QTableWidget* grid = dialog->StringGrid();
    grid->setCurrentCell(row, 1);
    grid->editItem(grid->item(row, 1));
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (editor)
        editor->selectAll();
    return editor;
}

void commitText(QWidget* editor, const QString& text)
{
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(editor, &event);
}

} // namespace

// The right button, the column menu, the caption dialog and the layout file.
class DBGridExLayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<QWidget> m_window;
    TDBGridEx* m_grid = nullptr;
    QMenu* m_popup = nullptr;
    TDataSource* m_source = nullptr;
    std::unique_ptr<MemoryDataSet> m_data;
    QStringList m_errors;

    QString layoutPath() const { return m_folder->filePath(QStringLiteral("ColumnINFO.ini")); }
    IniFile layout() const { return IniFile(layoutPath()); }

    // What the main window does after every opening of its listing.
    void applyLayout()
    {
        m_grid->LoadColumnCaptions();
        m_grid->LoadColumnVisibility(QStringLiteral("ColumnINFO.ini"));
        m_grid->LoadColumnWidths();
    }

    void reopen()
    {
        m_data->Close();
        m_data->Open();
        applyLayout();
    }

    QList<bool> visibility() const
    {
        QList<bool> result;
        for (const auto& column : m_grid->Columns())
            result << column->Visible();
        return result;
    }

    QMenu* openColumnMenu()
    {
        QTest::mousePress(m_grid->horizontalHeader()->viewport(), Qt::RightButton, {}, titleCentre(m_grid, 0));
        QTest::mouseRelease(m_grid->horizontalHeader()->viewport(), Qt::RightButton, {}, titleCentre(m_grid, 0));
        return qobject_cast<QMenu*>(QApplication::activePopupWidget());
    }

    static void closePopups()
    {
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    }

private slots:
    void init()
    {
        m_errors.clear();
        TDBGrid::setExceptionHandler([this](const std::exception& error) { m_errors << error.what(); });
        m_folder = std::make_unique<QTemporaryDir>();
        std::vector<std::vector<jet::Value>> rows;
        for (int i = 1; i <= 5; ++i)
            rows.push_back({number(i), text(QStringLiteral("KEY%1").arg(i)), text(QStringLiteral("user"))});
        m_data = std::make_unique<MemoryDataSet>(
            std::vector<TFieldDef>{integerField(QStringLiteral("id")), textField(QStringLiteral("USBKEY_SERIAL"), 10),
                                   textField(QStringLiteral("username"), 8)},
            std::move(rows));

        m_window = std::make_unique<QWidget>();
        m_window->setObjectName(QStringLiteral("FrmMain"));
        m_window->resize(480, 260);
        auto* panel = new QWidget(m_window.get());
        panel->setGeometry(0, 0, 480, 260);
        m_grid = new TDBGridEx(panel);
        m_grid->setName(QStringLiteral("DBGridEx1"));
        m_grid->setGeometry(0, 0, 480, 260);
        m_grid->setLayoutFolder(m_folder->path());
        m_popup = new QMenu(m_window.get());
        m_popup->addAction(QStringLiteral("导出数据"));
        m_popup->addAction(QStringLiteral("刷新"));
        m_grid->setPopupMenu(m_popup);
        m_source = new TDataSource(m_window.get());
        m_source->setDataSet(m_data.get());
        m_grid->setDataSource(m_source);
        m_data->Open();
        QVERIFY(showFocused(m_grid));
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        closePopups();
        TDBGrid::setExceptionHandler({});
        QFile::setPermissions(layoutPath(), QFile::ReadOwner | QFile::WriteOwner);
        m_window.reset();
        m_data.reset();
        m_folder.reset();
    }

    void sectionNameIsOutermostWindowFollowedByGridName()
    {
        QCOMPARE(m_grid->LayoutSectionName(), kBase);
        TDBGridEx alone;
        alone.setName(QStringLiteral("DBGridEx2"));
        QCOMPARE(alone.LayoutSectionName(), QStringLiteral("DBGridEx2"));
    }

    void firstRunWritesVisibilityAndWidthsButNoCaptions()
    {
        applyLayout();
        const IniFile file = layout();
        for (const auto& column : m_grid->Columns()) {
            QCOMPARE(file.ReadString(kBase, column->FieldName(), QString()), column->FieldName());
            QCOMPARE(file.ReadInteger(kBase + "W", column->FieldName(), -1), column->Width());
        }
        QVERIFY(!file.SectionExists(kBase + "C"));
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList{QStringLiteral("ColumnINFO.ini")});
    }

    void nothingIsSavedWithoutAnOpenDataSet()
    {
        m_data->Close();
        m_grid->SaveColumnWidths();
        m_grid->SaveColumnVisibility(QStringLiteral("ColumnInfo.ini"));
        QVERIFY(!QFile::exists(layoutPath()));
    }

    void columnMenuListsColumnsSeparatorAndCaptionItem()
    {
        applyLayout();
        clickTitle(m_grid, 1);  // sorted: the caption carries the mark
        m_grid->Columns()[2]->setVisible(false);
        QMenu* menu = openColumnMenu();
        QVERIFY(menu);
        QCOMPARE(menu, m_grid->ColumnMenu());
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.size(), 5);
        QCOMPARE(items[1]->text(), QStringLiteral("USBKEY_SERIAL↓"));
        QVERIFY(items[0]->isChecked() && items[1]->isChecked() && !items[2]->isChecked());
        QVERIFY(items[3]->isSeparator());
        QCOMPARE(items[3]->text(), QString());  // a separator with a text shows it beside the line
        QCOMPARE(items[4]->text(), QStringLiteral("中文字段设置"));
        QCOMPARE(items[4]->data().toInt(), 1);
        QCOMPARE(items[0]->data().toInt(), 0);
    }

    void hidingAColumnIsStoredAtOnceAndSurvivesAReload()
    {
        applyLayout();
        QMenu* menu = openColumnMenu();
        QVERIFY(menu);
        QAction* serial = menu->actions()[1];
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(serial).center());
        QCOMPARE(visibility(), (QList<bool>{true, false, true}));
        QCOMPARE(layout().ReadString(kBase, QStringLiteral("USBKEY_SERIAL"), QStringLiteral("gone")),
                 QStringLiteral("gone"));

        reopen();
        QCOMPARE(visibility(), (QList<bool>{true, false, true}));

        menu = openColumnMenu();
        QVERIFY(!menu->actions()[1]->isChecked());
        menu->actions()[1]->trigger();  // ticked again
        QCOMPARE(visibility(), (QList<bool>{true, true, true}));
        QCOMPARE(layout().ReadString(kBase, QStringLiteral("USBKEY_SERIAL"), QString()),
                 QStringLiteral("USBKEY_SERIAL"));
    }

    void lastVisibleColumnCannotBeHidden()
    {
        applyLayout();
        m_grid->Columns()[0]->setVisible(false);
        m_grid->Columns()[1]->setVisible(false);
        m_grid->SaveColumnVisibility(QStringLiteral("ColumnINFO.ini"));
        QMenu* menu = openColumnMenu();
        QVERIFY(menu);
        QVERIFY(!menu->actions()[2]->isEnabled());
        m_grid->ColumnMenuClick(menu->actions()[2]);
        QCOMPARE(visibility(), (QList<bool>{false, false, true}));
    }

    void everyColumnHiddenStopsAfterOneSaveAndReloadShowingThemAll()
    {
        applyLayout();
        for (const auto& column : m_grid->Columns())
            column->setVisible(false);
        m_grid->SaveColumnVisibility(QStringLiteral("ColumnINFO.ini"));  // must return
        QVERIFY(!layout().SectionExists(kBase));
        QCOMPARE(visibility(), (QList<bool>{true, true, true}));
        m_grid->LoadColumnVisibility(QStringLiteral("ColumnINFO.ini"));
        QCOMPARE(visibility(), (QList<bool>{true, true, true}));
    }

    // A layout that would hide every column: the grid keeps its title row
    // and column menu, and the file stays as it was.
    void layoutHidingEveryColumnShowsThemAllAndKeepsTheFile_data()
    {
        QTest::addColumn<QByteArray>("visibility");
        QTest::newRow("another version's fields") << QByteArray("serial_no=serial_no\r\nuser_name=user_name\r\n");
        QTest::newRow("only empty values") << QByteArray("id=\r\nUSBKEY_SERIAL= \r\nusername=\r\n");
    }

    void layoutHidingEveryColumnShowsThemAllAndKeepsTheFile()
    {
        QFETCH(QByteArray, visibility);
        const QByteArray before = "[" + kBase.toLatin1() + "]\r\n" + visibility + "[" + kBase.toLatin1() +
                                  "W]\r\nid=50\r\nUSBKEY_SERIAL=90\r\nusername=70\r\n";
        writeBytes(layoutPath(), before);
        reopen();
        QCOMPARE(this->visibility(), (QList<bool>{true, true, true}));
        QVERIFY(m_grid->horizontalHeader()->isVisible());
        QMenu* menu = openColumnMenu();
        QVERIFY(menu);
        QCOMPARE(menu, m_grid->ColumnMenu());
        closePopups();
        reopen();  // and on every start
        QCOMPARE(this->visibility(), (QList<bool>{true, true, true}));
        QCOMPARE(readBytes(layoutPath()), before);
    }

    void widthsComeFromTheFileWith60ForBadOrMissingEntries()
    {
        writeBytes(layoutPath(), "[" + kBase.toLatin1() + "W]\nid=abc\nusername= 85 \n");
        m_grid->LoadColumnWidths();
        QCOMPARE(m_grid->Columns()[0]->Width(), 60);
        QCOMPARE(m_grid->Columns()[1]->Width(), 60);
        QCOMPARE(m_grid->Columns()[2]->Width(), 85);
        QCOMPARE(m_grid->columnWidth(2), 85);
    }

    void newFieldIsHiddenWithWidth60OnceALayoutExists()
    {
        writeBytes(layoutPath(), "[" + kBase.toLatin1() + "]\nid=id\nusername=username\n[" + kBase.toLatin1() +
                                     "W]\nid=50\nusername=70\n");
        applyLayout();
        QCOMPARE(visibility(), (QList<bool>{true, false, true}));
        QCOMPARE(m_grid->Columns()[1]->Width(), 60);
        QCOMPARE(m_grid->Columns()[1]->Title()->Caption(), QStringLiteral("USBKEY_SERIAL"));
    }

    void closingAndStartUpSpellingsShareOneFile()
    {
        writeBytes(m_folder->filePath(QStringLiteral("columninfo.ini")), "[" + kBase.toLatin1() + "]\nid=id\n");
        m_grid->SaveColumnWidths();
        m_grid->SaveColumnVisibility(QStringLiteral("ColumnInfo.ini"));
        QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files), QStringList{QStringLiteral("columninfo.ini")});
        const IniFile file(m_folder->filePath(QStringLiteral("columninfo.ini")));
        QCOMPARE(file.ReadString(kBase, QStringLiteral("username"), QString()), QStringLiteral("username"));
        QVERIFY(file.SectionExists(kBase + "W"));
    }

    void captionDialogStoresEditedCaptionsInGbk()
    {
        applyLayout();
        clickTitle(m_grid, 0);  // id↓
        QMenu* menu = openColumnMenu();
        QVERIFY(menu);

        QStringList shown;
        bool fixedCellsLocked = false;
        const auto seen = answerNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<TFrmColumnCaptions*>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            for (int row = 0; row < dialog->RowCount(); ++row)
                shown << dialog->Cells(0, row) + "|" + dialog->Cells(1, row);
            fixedCellsLocked = !(dialog->StringGrid()->item(1, 0)->flags() & Qt::ItemIsEditable) &&
                               !(dialog->StringGrid()->item(0, 1)->flags() & Qt::ItemIsEditable);

            // id: a caption ending in the descending mark keeps it.
            QLineEdit* editor = editCaption(dialog, 1);
            commitText(editor, QStringLiteral("编号↑"));
            QTest::keyClick(editor, Qt::Key_Return);
            // username: cleared, so it takes the field name.
            editor = editCaption(dialog, 3);
            QTest::keyClick(editor, Qt::Key_Backspace);
            QTest::keyClick(editor, Qt::Key_Return);
            // USBKEY_SERIAL: typed with an ascending mark and left open when
            // the dialog is closed by its close box.
            editor = editCaption(dialog, 2);
            commitText(editor, QStringLiteral("序列号↓"));
            dialog->close();
        });
        menu->actions()[4]->trigger();

        QVERIFY(seen->seen);
        QCOMPARE(seen->title, QStringLiteral("中文字段设置"));
        QVERIFY(fixedCellsLocked);
        QCOMPARE(shown, (QStringList{"英文字段名|中文字段名", "id|id ", "USBKEY_SERIAL|USBKEY_SERIAL",
                                     "username|username"}));

        const IniFile file = layout();
        QCOMPARE(file.ReadString(kBase + "C", QStringLiteral("id"), QString()), QStringLiteral("编号↑"));
        QCOMPARE(file.ReadString(kBase + "C", QStringLiteral("USBKEY_SERIAL"), QString()), QStringLiteral("序列号"));
        QCOMPARE(file.ReadString(kBase + "C", QStringLiteral("username"), QString()), QStringLiteral("username"));
        QVERIFY(readBytes(layoutPath()).contains(GbkText::encode(QStringLiteral("序列号")).value()));

        QCOMPARE(m_grid->Columns()[0]->Title()->Caption(), QStringLiteral("编号↑"));
        QCOMPARE(m_grid->Columns()[1]->Title()->Caption(), QStringLiteral("序列号"));

        reopen();  // the captions come back after the columns are rebuilt
        QCOMPARE(m_grid->Columns()[1]->Title()->Caption(), QStringLiteral("序列号"));
    }

    void rightPressOnADataRowOpensTheAssignedMenuWithoutMovingTheCurrentCell()
    {
        m_data->setRecNo(1);
        QTest::mousePress(m_grid->viewport(), Qt::RightButton, {}, cellCentre(m_grid, 3, 1));
        QCOMPARE(QApplication::activePopupWidget(), m_popup);
        QTest::mouseRelease(m_grid->viewport(), Qt::RightButton, {}, cellCentre(m_grid, 3, 1));
        QCOMPARE(QApplication::activePopupWidget(), m_popup);
        QCOMPARE(m_grid->currentIndex().row(), 0);
        QCOMPARE(m_data->RecNo(), 1);
        closePopups();

        m_grid->setPopupMenu(nullptr);
        QTest::mousePress(m_grid->viewport(), Qt::RightButton, {}, cellCentre(m_grid, 3, 1));
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        QTest::mouseRelease(m_grid->viewport(), Qt::RightButton, {}, cellCentre(m_grid, 3, 1));
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
    }

    void rightPressOnTheTitleRowOrItsCornerOpensTheColumnMenu()
    {
        QTest::mousePress(m_grid->horizontalHeader()->viewport(), Qt::RightButton, {}, titleCentre(m_grid, 2));
        QVERIFY(m_grid->ColumnMenu());
        QCOMPARE(QApplication::activePopupWidget(), m_grid->ColumnMenu());
        closePopups();

        auto* corner = m_grid->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(corner);
        QTest::mousePress(corner, Qt::RightButton, {}, corner->rect().center());
        QCOMPARE(QApplication::activePopupWidget(), m_grid->ColumnMenu());
    }

    void rightClickOutsideEveryCellLeavesTheMenuToTheContextMenuRequest()
    {
        const QPoint belowRows(20, m_grid->viewport()->height() - 5);
        QCOMPARE(m_grid->rowAt(belowRows.y()), -1);
        QTest::mousePress(m_grid->viewport(), Qt::RightButton, {}, belowRows);
        QTest::mouseRelease(m_grid->viewport(), Qt::RightButton, {}, belowRows);
        QCOMPARE(QApplication::activePopupWidget(), nullptr);

        QContextMenuEvent request(QContextMenuEvent::Mouse, belowRows, m_grid->viewport()->mapToGlobal(belowRows));
        QApplication::sendEvent(m_grid->viewport(), &request);
        QCOMPARE(QApplication::activePopupWidget(), m_popup);
        closePopups();

        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5), m_grid->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_grid, &key);
        QCOMPARE(QApplication::activePopupWidget(), m_popup);
    }

    void contextMenuRequestOfAPressThatOpenedAMenuOpensNothingMore()
    {
        QTest::mousePress(m_grid->viewport(), Qt::RightButton, {}, cellCentre(m_grid, 2, 0));
        QCOMPARE(QApplication::activePopupWidget(), m_popup);
        closePopups();
        QContextMenuEvent request(QContextMenuEvent::Mouse, cellCentre(m_grid, 2, 0),
                                  m_grid->viewport()->mapToGlobal(cellCentre(m_grid, 2, 0)));
        QApplication::sendEvent(m_grid->viewport(), &request);
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
    }

    void mouseHandlersAreCalledOncePerEvent()
    {
        QStringList events;
        m_grid->OnMouseDown = [&](TDBGrid*, Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
            events << QStringLiteral("down %1").arg(int(button));
        };
        m_grid->OnMouseUp = [&](TDBGrid*, Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
            events << QStringLiteral("up %1").arg(int(button));
        };
        clickCell(m_grid, 1, 1);
        QCOMPARE(events, (QStringList{"down 1", "up 1"}));

        events.clear();
        QTest::mousePress(m_grid->viewport(), Qt::RightButton, {}, cellCentre(m_grid, 2, 1));
        QTest::mouseRelease(m_grid->viewport(), Qt::RightButton, {}, cellCentre(m_grid, 2, 1));
        QCOMPARE(events, (QStringList{"down 2", "up 2"}));  // the menu opened on the press
    }

    void refusedWriteFromTheMenuIsReportedWithTheFullPath()
    {
        applyLayout();
        QVERIFY(QFile::setPermissions(layoutPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const QByteArray before = readBytes(layoutPath());

        QMenu* menu = openColumnMenu();
        QVERIFY(menu);
        menu->actions()[2]->trigger();
        QCOMPARE(m_errors, QStringList{"Unable to write to " + QDir::toNativeSeparators(layoutPath())});
        QCOMPARE(readBytes(layoutPath()), before);

        // On closing: widths fail silently, visibility reaches the caller.
        m_grid->SaveColumnWidths();
        QVERIFY_THROWS_EXCEPTION(std::exception, m_grid->SaveColumnVisibility(QStringLiteral("ColumnInfo.ini")));
        QVERIFY_THROWS_EXCEPTION(std::exception, m_grid->SaveColumnLayout(QStringLiteral("ColumnInfo.ini")));
        QCOMPARE(readBytes(layoutPath()), before);
    }
};

REGISTER_GRID_TEST(DBGridExLayoutTest);

#include "DBGridExLayoutTest.moc"
