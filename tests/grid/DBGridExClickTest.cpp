#include "GridTestSupport.h"
#include "MemoryDataSet.h"
#include "TestRegistry.h"

#include "grid/DBGridEx.h"

#include <QLineEdit>
#include <QTest>

// The cell-click protocol: in-place editing of writable columns and the
// check-value cycle.
class DBGridExClickTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    TDBGridEx* m_grid = nullptr;
    TDataSource* m_source = nullptr;
    std::unique_ptr<MemoryDataSet> m_data;
    QStringList m_errors;

    QString flagOf(int record) const { return m_grid->model()->index(record, 2).data().toString(); }
    TField* flag() const { return m_data->FieldByName(QStringLiteral("flag")); }

private slots:
    void init()
    {
        m_errors.clear();
        TDBGrid::setExceptionHandler([this](const std::exception& error) { m_errors << error.what(); });
        m_data = std::make_unique<MemoryDataSet>(
            std::vector<TFieldDef>{integerField(QStringLiteral("id")), textField(QStringLiteral("name"), 8),
                                   textField(QStringLiteral("flag"), 6)},
            std::vector<std::vector<jet::Value>>{
                {number(1), text(QStringLiteral("carol")), text(QStringLiteral("1"))},
                {number(2), text(QStringLiteral("alice")), text(QStringLiteral("0"))},
                {number(3), text(QStringLiteral("bob")), text(QString())},
                {number(4), text(QStringLiteral("dave")), text(QStringLiteral(" NIGHT "))},
                {number(5), text(QStringLiteral("erin")), text(QStringLiteral("NIGHT"))},
            });
        m_window = std::make_unique<QWidget>();
        m_window->resize(420, 220);
        m_grid = new TDBGridEx(m_window.get());
        m_grid->setGeometry(0, 0, 420, 220);
        m_source = new TDataSource(m_window.get());
        m_source->setDataSet(m_data.get());
        m_grid->setDataSource(m_source);
        m_data->Open();
        QVERIFY(showFocused(m_grid));
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        TDBGrid::setExceptionHandler({});
        m_window.reset();
        m_data.reset();
        QVERIFY(m_errors.isEmpty());
    }

    void newGridIsReadOnly()
    {
        QVERIFY(!(m_grid->Options() & dgEditing));
        clickCell(m_grid, 1, 1);
        QTest::keyClick(m_grid, Qt::Key_F2);
        QVERIFY(!qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QCOMPARE(m_data->State(), dsBrowse);
    }

    void writableColumnAllowsEditingUntilTheNextClickElsewhere()
    {
        m_grid->setSWriteAbleField({QStringLiteral("NAME")});
        clickCell(m_grid, 1, 1);
        QVERIFY(m_grid->Options() & dgEditing);
        QCOMPARE(m_data->State(), dsEdit);

        QTest::keyClick(m_grid, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, "alicia");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(m_data->FieldByName(QStringLiteral("name"))->Text(), QStringLiteral("alicia"));

        clickCell(m_grid, 1, 0);
        QVERIFY(!(m_grid->Options() & dgEditing));
        QTest::keyClick(m_grid, Qt::Key_F2);
        QVERIFY(!qobject_cast<QLineEdit*>(QApplication::focusWidget()));
    }

    void writableListIsCopiedOnAssignment()
    {
        QStringList lines{QStringLiteral("name")};
        m_grid->setSWriteAbleField(lines);
        lines << QStringLiteral("id");
        QCOMPARE(m_grid->SWriteAbleField(), QStringList{QStringLiteral("name")});
        m_grid->setSWriteAbleField(m_grid->SWriteAbleField());
        QCOMPARE(m_grid->SWriteAbleField(), QStringList{QStringLiteral("name")});
    }

    void checkValuesCycle()
    {
        // The check field matches with blanks around it and in any case.
        m_grid->setSCheckField(QStringLiteral(" FLAG "));
        m_grid->setSValue1(QStringLiteral("1"));
        m_grid->setSValue2(QStringLiteral("0"));
        m_grid->setSValue3(QStringLiteral("9"));

        clickCell(m_grid, 0, 2);
        QCOMPARE(flag()->AsString(), QStringLiteral("0"));
        clickCell(m_grid, 0, 2);
        QCOMPARE(flag()->AsString(), QStringLiteral("1"));
        clickCell(m_grid, 0, 2);
        QCOMPARE(flag()->AsString(), QStringLiteral("0"));
        QCOMPARE(m_data->State(), dsEdit);  // the grid does not post
        QVERIFY(m_data->posts.empty());

        clickCell(m_grid, 2, 2);  // moving on posts the first record; empty becomes value 1
        QCOMPARE(m_data->posts.size(), std::size_t(1));
        QCOMPARE(flagOf(0), QStringLiteral("0"));
        QCOMPARE(flag()->AsString(), QStringLiteral("1"));
        clickCell(m_grid, 1, 2);
        QCOMPARE(flag()->AsString(), QStringLiteral("1"));
        QCOMPARE(flagOf(2), QStringLiteral("1"));
        QVERIFY(!(m_grid->Options() & dgEditing));
    }

    void nightAsksAndStoresValue3OnYesOnly()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        m_grid->setSValue1(QStringLiteral("1"));
        m_grid->setSValue2(QStringLiteral("0"));
        m_grid->setSValue3(QStringLiteral("9"));

        auto seen = answerNextMessageBox(QMessageBox::Yes);
        clickCell(m_grid, 3, 2);
        QVERIFY(seen->seen);
        QCOMPARE(seen->title, QStringLiteral("要下达该条记录吗?"));
        QCOMPARE(seen->text, QStringLiteral("确定吗?"));
        QCOMPARE(seen->icon, QMessageBox::NoIcon);
        QCOMPARE(seen->buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(flag()->AsString(), QStringLiteral("9"));

        QVERIFY(showFocused(m_grid));  // the offscreen platform does not reactivate the window
        seen = answerNextMessageBox(QMessageBox::No);
        clickCell(m_grid, 4, 2);
        QVERIFY(seen->seen);
        QCOMPARE(flag()->AsString(), QStringLiteral("NIGHT"));
    }

    void nightIsNotAskedWhenItIsValue3()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        m_grid->setSValue3(QStringLiteral("NIGHT"));
        QVERIFY(noModalOpens([&] { clickCell(m_grid, 4, 2); }));
        QCOMPARE(flag()->AsString(), QStringLiteral("NIGHT"));
    }

    void refusedEditLeavesTheValueSilently()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        m_grid->setSValue1(QStringLiteral("1"));
        m_grid->setSValue2(QStringLiteral("0"));
        m_data->BeforeEdit = [](TDataSet*) { throw EDatabaseError(QStringLiteral("The record is locked")); };
        QVERIFY(noModalOpens([&] { clickCell(m_grid, 0, 2); }));
        QCOMPARE(flag()->AsString(), QStringLiteral("1"));
        QCOMPARE(m_data->State(), dsBrowse);

        m_grid->setSWriteAbleField({QStringLiteral("name")});
        clickCell(m_grid, 0, 1);  // editing is switched on; the dataset refuses it quietly
        QVERIFY(m_grid->Options() & dgEditing);
        QCOMPARE(m_data->State(), dsBrowse);
    }

    void cellClickHandlerRunsBeforeTheToggle()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        m_grid->setSValue1(QStringLiteral("1"));
        m_grid->setSValue2(QStringLiteral("0"));
        QStringList seen;
        m_grid->OnCellClick = [&](TColumn* column) { seen << column->FieldName() + "=" + flag()->AsString(); };
        clickCell(m_grid, 0, 2);
        QCOMPARE(seen, QStringList{QStringLiteral("flag=1")});
        QCOMPARE(flag()->AsString(), QStringLiteral("0"));
    }
};

REGISTER_GRID_TEST(DBGridExClickTest);

#include "DBGridExClickTest.moc"
