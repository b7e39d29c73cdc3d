#include "GridTestSupport.h"
#include "MemoryDataSet.h"
#include "TestRegistry.h"

#include "grid/DBGrid.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

namespace {

std::unique_ptr<MemoryDataSet> registerListing(int rows)
{
    std::vector<std::vector<jet::Value>> values;
    for (int i = 1; i <= rows; ++i)
        values.push_back({number(i), text(QStringLiteral("KEY%1").arg(i, 4, 10, QLatin1Char('0'))),
                          text(QStringLiteral("user%1").arg(i % 3))});
    return std::make_unique<MemoryDataSet>(
        std::vector<TFieldDef>{integerField(QStringLiteral("id")), textField(QStringLiteral("USBKEY_SERIAL"), 12),
                               textField(QStringLiteral("username"), 10)},
        std::move(values));
}

// The top row of the cells and of the indicator begins at the top edge.
bool topRowIsWhole(TDBGrid* grid)
{
    const int top = grid->rowAt(0);
    return top >= 0 && grid->rowViewportPosition(top) == 0 &&
           grid->verticalHeader()->sectionViewportPosition(top) == 0;
}

} // namespace

// The base grid: columns from the fields, the current cell in step with the
// dataset, hit-testing, click notifications and record deletion.
class DBGridTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    TDBGrid* m_grid = nullptr;
    TDataSource* m_source = nullptr;
    std::unique_ptr<MemoryDataSet> m_data;

private slots:
    void init()
    {
        m_data = registerListing(50);
        m_window = std::make_unique<QWidget>();
        m_window->resize(480, 300);
        m_grid = new TDBGrid(m_window.get());
        m_grid->setGeometry(0, 0, 480, 300);
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
    }

    void columnsAreRebuiltFromTheFieldsAtEveryOpening()
    {
        QCOMPARE(m_grid->Columns().Count(), 3);
        QCOMPARE(m_grid->Columns()[1]->FieldName(), QStringLiteral("USBKEY_SERIAL"));
        QCOMPARE(m_grid->Columns()[1]->Title()->Caption(), QStringLiteral("USBKEY_SERIAL"));
        QCOMPARE(m_grid->model()->rowCount(), 50);

        m_grid->Columns()[2]->setVisible(false);
        m_grid->Columns()[2]->Title()->setCaption(QStringLiteral("操作员"));
        QVERIFY(m_grid->isColumnHidden(2));
        QCOMPARE(m_grid->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("操作员"));

        m_data->Close();
        QCOMPARE(m_grid->Columns().Count(), 0);
        QCOMPARE(m_grid->model()->rowCount(), 0);
        m_data->Open();
        QCOMPARE(m_grid->Columns().Count(), 3);
        QVERIFY(m_grid->Columns()[2]->Visible());
        QVERIFY(!m_grid->isColumnHidden(2));
        QCOMPARE(m_grid->Columns()[2]->Title()->Caption(), QStringLiteral("username"));
    }

    void hiddenColumnKeepsItsWidth()
    {
        TColumn* column = m_grid->Columns()[1];
        column->setWidth(90);
        QCOMPARE(m_grid->columnWidth(1), 90);
        column->setVisible(false);
        QCOMPARE(column->Width(), 90);
        column->setVisible(true);
        QCOMPARE(m_grid->columnWidth(1), 90);
        m_grid->horizontalHeader()->resizeSection(1, 120);  // as a drag of the border does
        QCOMPARE(column->Width(), 120);
    }

    void currentCellFollowsTheDataSetAndMovesIt()
    {
        m_data->setRecNo(7);
        QCOMPARE(m_grid->currentIndex().row(), 6);

        clickCell(m_grid, 3, 2);
        QCOMPARE(m_data->RecNo(), 4);
        QCOMPARE(m_grid->SelectedIndex(), 2);

        QTest::keyClick(m_grid, Qt::Key_Down);
        QCOMPARE(m_data->RecNo(), 5);

        m_data->Last();
        QCOMPARE(m_grid->currentIndex().row(), 49);
        QVERIFY(m_grid->verticalScrollBar()->value() > 0);  // scrolled to show it
    }

    void indicatorMarksTheCurrentRecord()
    {
        const auto darkPixelsInSection = [this](int record) {
            QHeaderView* indicator = m_grid->verticalHeader();
            const QImage image = indicator->viewport()->grab().toImage();
            const QRect section(0, indicator->sectionViewportPosition(record), image.width(),
                                indicator->sectionSize(record));
            int dark = 0;
            for (int y = section.top() + 1; y < section.bottom(); ++y)
                for (int x = 1; x < section.right(); ++x)
                    dark += qGray(image.pixel(x, y)) < 64 ? 1 : 0;
            return dark;
        };
        m_data->setRecNo(3);
        QVERIFY(darkPixelsInSection(2) > 0);
        QCOMPARE(darkPixelsInSection(1), 0);
        m_data->Edit();  // another mark, still on that record
        QVERIFY(darkPixelsInSection(2) > 0);
        QCOMPARE(darkPixelsInSection(3), 0);
        m_data->Cancel();
    }

    void mouseCoordNumbersTitleRowAndIndicatorColumn()
    {
        const QPoint cell = m_grid->viewport()->mapTo(m_grid, cellCentre(m_grid, 2, 1));
        QCOMPARE(m_grid->MouseCoord(cell.x(), cell.y()), (TGridCoord{2, 3}));

        QHeaderView* titles = m_grid->horizontalHeader();
        const QPoint title = titles->viewport()->mapTo(m_grid, titleCentre(m_grid, 0));
        QCOMPARE(m_grid->MouseCoord(title.x(), title.y()), (TGridCoord{1, 0}));

        const int indicatorX = m_grid->verticalHeader()->geometry().center().x();
        QCOMPARE(m_grid->MouseCoord(indicatorX, cell.y()), (TGridCoord{0, 3}));
        QCOMPARE(m_grid->MouseCoord(indicatorX, title.y()), (TGridCoord{0, 0}));  // the corner

        // Right of the last column, and outside the grid.
        const int pastLast = m_grid->viewport()->geometry().left() + titles->length() + 5;
        QCOMPARE(m_grid->MouseCoord(pastLast, cell.y()), TGridCoord{});
        QCOMPARE(m_grid->MouseCoord(pastLast, title.y()), TGridCoord{});
        QCOMPARE(m_grid->MouseCoord(-5, -5), TGridCoord{});

        m_grid->setOptions(m_grid->Options() & ~TDBGridOptions(dgIndicator | dgTitles));
        const QPoint moved = m_grid->viewport()->mapTo(m_grid, cellCentre(m_grid, 2, 1));
        QCOMPARE(m_grid->MouseCoord(moved.x(), moved.y()), (TGridCoord{1, 2}));
    }

    void clicksAreReportedOnReleaseWithTheirColumn()
    {
        QStringList events;
        m_grid->OnTitleClick = [&](TColumn* column) { events << "title " + column->FieldName(); };
        m_grid->OnCellClick = [&](TColumn* column) { events << "cell " + column->FieldName(); };
        m_grid->OnMouseDown = [&](TDBGrid*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { events << "down"; };
        m_grid->OnMouseUp = [&](TDBGrid*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { events << "up"; };

        clickTitle(m_grid, 2);
        clickCell(m_grid, 1, 1);
        QCOMPARE(events, (QStringList{"down", "up", "title username", "down", "up", "cell USBKEY_SERIAL"}));

        // Neither the indicator nor the release that ends a column resize is a click.
        events.clear();
        QTest::mouseClick(m_grid->verticalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(m_grid->verticalHeader()->width() / 2, cellCentre(m_grid, 4, 0).y()));
        QCOMPARE(m_data->RecNo(), 5);  // the indicator moves to its record
        QHeaderView* titles = m_grid->horizontalHeader();
        const QPoint border(titles->sectionViewportPosition(0) + titles->sectionSize(0) - 1, titles->height() / 2);
        QTest::mousePress(titles->viewport(), Qt::LeftButton, {}, border);
        QTest::mouseRelease(titles->viewport(), Qt::LeftButton, {}, border);
        QCOMPARE(events, (QStringList{"down", "up", "down", "up"}));
    }

    void modelPassesTheItemModelTesterThroughItsChanges()
    {
        QAbstractItemModelTester tester(m_grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        m_data->setRecNo(10);
        m_data->Edit();
        m_data->FieldByName(QStringLiteral("username"))->setText(QStringLiteral("changed"));
        m_data->Post();
        QCOMPARE(m_grid->model()->index(9, 2).data().toString(), QStringLiteral("changed"));
        m_data->Delete();
        QCOMPARE(m_grid->model()->rowCount(), 49);
        m_data->Close();
        m_data->Open();
        QCOMPARE(m_grid->model()->rowCount(), 49);
    }

    // Scrolled by whole rows at the end of the listing too, as far as the
    // last row, which is whole.
    void topRowStaysWholeAtTheEnd()
    {
        leaveHalfARowOfRoom(m_grid);
        QTest::keyClick(m_grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(m_data->RecNo(), 50);
        QVERIFY(topRowIsWhole(m_grid));
        QVERIFY(m_grid->viewport()->rect().contains(m_grid->visualRect(m_grid->currentIndex())));

        QTest::keyClick(m_grid, Qt::Key_Home, Qt::ControlModifier);
        QScrollBar* bar = m_grid->verticalScrollBar();
        bar->setValue(bar->maximum());
        QVERIFY(topRowIsWhole(m_grid));
        QCOMPARE(m_grid->rowAt(0), bar->maximum());

        m_grid->resize(m_grid->width(), m_grid->height() + m_grid->rowHeight(0) / 3);
        QTest::qWait(0);
        QVERIFY(topRowIsWhole(m_grid));
    }

    void ctrlDeleteAsksAndDeletesOnOk()
    {
        m_data->setRecNo(3);
        const auto seen = answerNextMessageBox(QMessageBox::Ok);
        QTest::keyClick(m_grid, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(seen->seen);
        QCOMPARE(seen->title, QStringLiteral("Confirm"));
        QCOMPARE(seen->text, QStringLiteral("Delete record?"));
        QCOMPARE(seen->icon, QMessageBox::Question);
        QCOMPARE(seen->buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(m_data->deletions, std::vector<uint64_t>{2});
        QCOMPARE(m_grid->model()->rowCount(), 49);
        QCOMPARE(m_grid->currentIndex().row(), m_data->RecNo() - 1);
    }

    void ctrlDeleteKeepsTheRecordOnCancel()
    {
        m_data->setRecNo(3);
        const auto seen = answerNextMessageBox(QMessageBox::Cancel);
        QTest::keyClick(m_grid, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(seen->seen);
        QVERIFY(m_data->deletions.empty());
        QCOMPARE(m_data->RecordCount(), 50);
        QCOMPARE(m_data->RecNo(), 3);
    }

    void ctrlDeleteOnAnEmptyListingDoesNothing()
    {
        auto empty = std::make_unique<MemoryDataSet>(std::vector<TFieldDef>{integerField(QStringLiteral("id"))},
                                                     std::vector<std::vector<jet::Value>>{});
        m_source->setDataSet(empty.get());
        empty->Open();
        QVERIFY(noModalOpens([&] { QTest::keyClick(m_grid, Qt::Key_Delete, Qt::ControlModifier); }));
        QVERIFY(empty->deletions.empty());
        m_source->setDataSet(m_data.get());
    }

    void ctrlDeleteWithoutConfirmationOptionDeletesAtOnce()
    {
        m_grid->setOptions(m_grid->Options() & ~TDBGridOptions(dgConfirmDelete));
        m_data->setRecNo(5);
        QTest::keyClick(m_grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(m_data->deletions, std::vector<uint64_t>{4});

        m_grid->setReadOnly(true);
        QTest::keyClick(m_grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(m_data->deletions.size(), std::size_t(1));
    }

    void editsInPlaceWhenEditingIsAllowed()
    {
        m_grid->setOptions(m_grid->Options() | dgEditing);
        clickCell(m_grid, 1, 2);
        QTest::keyClick(m_grid, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->text(), QStringLiteral("user2"));
        editor->selectAll();
        QTest::keyClicks(editor, "new");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(m_data->State(), dsEdit);  // the editor commits after its own key handling
        QCOMPARE(m_data->FieldByName(QStringLiteral("username"))->Text(), QStringLiteral("new"));
        clickCell(m_grid, 4, 2);  // moving on posts the edit
        QCOMPARE(m_data->State(), dsBrowse);
        QCOMPARE(m_data->posts.size(), std::size_t(1));
        QCOMPARE(m_grid->model()->index(1, 2).data().toString(), QStringLiteral("new"));
    }

    void readOnlyGridOffersNoEditor()
    {
        m_grid->setReadOnly(true);
        clickCell(m_grid, 1, 2);
        QTest::keyClick(m_grid, Qt::Key_F2);
        QVERIFY(!qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QCOMPARE(m_data->State(), dsBrowse);
    }

    void millionRowsAreReadOnlyWhereShown()
    {
        auto big = registerListing(1000000);
        m_source->setDataSet(big.get());
        big->Open();
        QCOMPARE(m_grid->model()->rowCount(), 1000000);
        big->Last();
        QCOMPARE(m_grid->currentIndex().row(), 999999);
        QCOMPARE(m_grid->model()->index(999999, 1).data().toString(), QStringLiteral("KEY1000000"));
        QVERIFY(m_grid->findChildren<QWidget*>().size() < 30);  // no widget per row
        m_source->setDataSet(m_data.get());
    }
};

REGISTER_GRID_TEST(DBGridTest);

#include "DBGridTest.moc"
