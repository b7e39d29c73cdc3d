#include "GridTestSupport.h"
#include "MemoryDataSet.h"
#include "TestRegistry.h"

#include "grid/DBGridEx.h"

#include <QTest>

namespace {

const QString kDown = QStringLiteral("↓");
const QString kUp = QStringLiteral("↑");

std::vector<TFieldDef> listingFields()
{
    return {integerField(QStringLiteral("id")), integerField(QStringLiteral("user_id")),
            textField(QStringLiteral("name"), 8), textField(QStringLiteral("flag"), 4)};
}

std::vector<std::vector<jet::Value>> listingRows()
{
    return {
        {number(1), number(30), text(QStringLiteral("carol")), text(QStringLiteral("1"))},
        {number(2), number(10), text(QStringLiteral("alice")), text(QStringLiteral("0"))},
        {number(3), number(20), text(QStringLiteral("bob")), text(QString())},
        {number(4), number(40), text(QStringLiteral("dave")), text(QStringLiteral("1"))},
    };
}

} // namespace

// Title-click sorting and the sort mark.
class DBGridExSortTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> m_window;
    TDBGridEx* m_grid = nullptr;
    TDataSource* m_source = nullptr;
    std::unique_ptr<MemoryQuery> m_query;

    QStringList captions() const
    {
        QStringList result;
        for (const auto& column : m_grid->Columns())
            result << column->Title()->Caption();
        return result;
    }

    QList<int> shownIds() const
    {
        QList<int> ids;
        for (int row = 0; row < m_grid->model()->rowCount(); ++row)
            ids << m_grid->model()->index(row, 0).data().toInt();
        return ids;
    }

private slots:
    void init()
    {
        m_query = std::make_unique<MemoryQuery>(listingFields(), listingRows());
        m_window = std::make_unique<QWidget>();
        m_window->resize(640, 200);
        m_grid = new TDBGridEx(m_window.get());
        m_grid->setGeometry(0, 0, 640, 200);
        m_source = new TDataSource(m_window.get());
        m_source->setDataSet(m_query.get());
        m_grid->setDataSource(m_source);
        m_query->Open();
        QVERIFY(showFocused(m_grid));
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        m_window.reset();
        m_query.reset();
    }

    void threeClicksCycleAscendingDescendingAscending()
    {
        QCOMPARE(m_query->Sort(), QString());
        clickTitle(m_grid, 0);
        QCOMPARE(m_query->Sort(), QStringLiteral("id ASC "));
        QCOMPARE(captions().first(), "id" + kDown);
        QCOMPARE(shownIds(), (QList<int>{1, 2, 3, 4}));

        clickTitle(m_grid, 0);
        QCOMPARE(m_query->Sort(), QStringLiteral("id DESC "));
        QCOMPARE(captions().first(), "id" + kUp);
        QCOMPARE(shownIds(), (QList<int>{4, 3, 2, 1}));

        clickTitle(m_grid, 0);
        QCOMPARE(m_query->Sort(), QStringLiteral("id ASC "));
        QCOMPARE(captions().first(), "id" + kDown);
        QCOMPARE(shownIds(), (QList<int>{1, 2, 3, 4}));
    }

    void secondColumnTakesOverTheMark()
    {
        clickTitle(m_grid, 0);
        clickTitle(m_grid, 2);
        QCOMPARE(m_query->Sort(), QStringLiteral("name ASC "));
        QCOMPARE(captions(), (QStringList{"id", "user_id", "name" + kDown, "flag"}));
        QCOMPARE(shownIds(), (QList<int>{2, 3, 1, 4}));

        clickTitle(m_grid, 2);
        QCOMPARE(m_query->Sort(), QStringLiteral("name DESC "));
        QCOMPARE(captions(), (QStringList{"id", "user_id", "name" + kUp, "flag"}));
    }

    void fieldNameInsideTheSortedOneCountsAsSorted()
    {
        clickTitle(m_grid, 1);
        QCOMPARE(m_query->Sort(), QStringLiteral("user_id ASC "));
        clickTitle(m_grid, 0);  // "id" is a substring of "user_id ASC "
        QCOMPARE(m_query->Sort(), QStringLiteral("id DESC "));
        QCOMPARE(captions(), (QStringList{"id" + kUp, "user_id", "name", "flag"}));
    }

    void checkColumnNeverSorts()
    {
        m_grid->setSCheckField(QStringLiteral("flag"));
        int titleClicks = 0;
        m_grid->OnTitleClick = [&](TColumn*) { ++titleClicks; };
        clickTitle(m_grid, 3);
        QCOMPARE(titleClicks, 1);
        QCOMPARE(m_query->Sort(), QString());
        QCOMPARE(captions(), (QStringList{"id", "user_id", "name", "flag"}));
    }

    void noSortUnlessSymbolShownAndSortingAllowed_data()
    {
        QTest::addColumn<bool>("dispSortSymbol");
        QTest::addColumn<bool>("allowSortGrid");
        QTest::newRow("symbol off") << false << true;
        QTest::newRow("sorting off") << true << false;
        QTest::newRow("both off") << false << false;
    }

    void noSortUnlessSymbolShownAndSortingAllowed()
    {
        QFETCH(bool, dispSortSymbol);
        QFETCH(bool, allowSortGrid);
        m_grid->setSDispSortSymbol(dispSortSymbol);
        m_grid->setSAllowSortGrid(allowSortGrid);
        clickTitle(m_grid, 2);
        QCOMPARE(m_query->Sort(), QString());
        QCOMPARE(captions(), (QStringList{"id", "user_id", "name", "flag"}));
        QCOMPARE(shownIds(), (QList<int>{1, 2, 3, 4}));
    }

    void datasetThatDoesNotSortStillGetsTheMark()
    {
        MemoryDataSet plain(listingFields(), listingRows());
        m_source->setDataSet(&plain);
        plain.Open();
        clickTitle(m_grid, 2);
        QCOMPARE(shownIds(), (QList<int>{1, 2, 3, 4}));
        QCOMPARE(captions(), (QStringList{"id", "user_id", "name" + kDown, "flag"}));
        clickTitle(m_grid, 0);
        QCOMPARE(captions(), (QStringList{"id" + kDown, "user_id", "name", "flag"}));
        m_source->setDataSet(m_query.get());
    }

    void currentRecordStaysCurrentAcrossSorting()
    {
        m_query->setRecNo(3);  // id 3
        int recordAtTitleClick = 0;
        m_grid->OnTitleClick = [&](TColumn*) { recordAtTitleClick = m_query->RecNo(); };
        clickTitle(m_grid, 0);
        clickTitle(m_grid, 0);  // descending: 4 3 2 1
        QCOMPARE(recordAtTitleClick, 3);
        QCOMPARE(m_query->FieldByName(QStringLiteral("id"))->AsInteger(), 3);
        QCOMPARE(m_query->RecNo(), 2);
        QCOMPARE(m_grid->currentIndex().row(), 1);
    }

    // A title click sorts text as `order by` does (Jet's order): letters
    // first, accents next, the hyphen last, letter case ignored.
    void titleClickSortsTextInTheDatabasesOrder()
    {
        std::vector<std::vector<jet::Value>> rows;
        const QStringList names{"ab", "B", "a-c", "ä", "ac", "b"};
        for (int i = 0; i < names.size(); ++i)
            rows.push_back({number(i + 1), number(i), text(names[i]), text("1")});
        MemoryQuery listing(listingFields(), std::move(rows));
        m_source->setDataSet(&listing);
        listing.Open();
        clickTitle(m_grid, 2);
        QStringList shown;
        for (int row = 0; row < m_grid->model()->rowCount(); ++row)
            shown << m_grid->model()->index(row, 2).data().toString();
        QCOMPARE(shown, (QStringList{"ä", "ab", "ac", "a-c", "B", "b"}));
        m_source->setDataSet(m_query.get());
    }

    // A sort that takes the current record to the end of a long listing
    // scrolls there by whole rows: the top row is not cut.
    void sortToTheEndKeepsTheTopRowWhole()
    {
        std::vector<std::vector<jet::Value>> rows;
        for (int id = 1; id <= 200; ++id)
            rows.push_back({number(id), number((id * 37) % 200), text(QStringLiteral("n%1").arg(id)), text("1")});
        MemoryQuery listing(listingFields(), std::move(rows));
        m_source->setDataSet(&listing);
        listing.Open();
        leaveHalfARowOfRoom(m_grid);
        listing.setRecNo(27);  // user_id 199, the largest

        clickTitle(m_grid, 1);
        QCOMPARE(listing.RecNo(), 200);
        const int top = m_grid->rowAt(0);
        QCOMPARE(m_grid->rowViewportPosition(top), 0);
        QCOMPARE(m_grid->verticalHeader()->sectionViewportPosition(top), 0);
        QVERIFY(m_grid->viewport()->rect().contains(m_grid->visualRect(m_grid->currentIndex())));
        m_source->setDataSet(m_query.get());
    }

    void titleClickHandlerRunsBeforeSorting()
    {
        QStringList sortTexts;
        m_grid->OnTitleClick = [&](TColumn* column) { sortTexts << column->FieldName() + ":" + m_query->Sort(); };
        clickTitle(m_grid, 0);
        clickTitle(m_grid, 2);
        QCOMPARE(sortTexts, (QStringList{"id:", "name:id ASC "}));
    }

    void reopeningStartsAscendingWithPlainCaptions()
    {
        clickTitle(m_grid, 0);
        clickTitle(m_grid, 0);
        QCOMPARE(m_grid->SortSymbol(), kUp);
        m_query->Close();
        m_query->Open();
        QCOMPARE(captions(), (QStringList{"id", "user_id", "name", "flag"}));
        clickTitle(m_grid, 0);
        QCOMPARE(m_query->Sort(), QStringLiteral("id ASC "));
        QCOMPARE(captions().first(), "id" + kDown);
    }

    void failedSortKeepsWhatChangedAndTheCurrentRecord()
    {
        clickTitle(m_grid, 2);  // name ascending: alice bob carol dave
        m_query->setRecNo(3);   // carol, id 1
        TColumn* orphan = m_grid->Columns().Add();  // from now on the columns are the grid's own
        orphan->setFieldName(QStringLiteral("missing"));
        orphan->Title()->setCaption(QStringLiteral("missing"));
        QCOMPARE(m_grid->Columns().Count(), 5);

        clickTitle(m_grid, 4);
        QCOMPARE(m_query->Sort(), QStringLiteral("name ASC "));
        QCOMPARE(captions(), (QStringList{"id", "user_id", "name", "flag", "missing"}));
        QCOMPARE(m_query->FieldByName(QStringLiteral("id"))->AsInteger(), 1);
    }
};

REGISTER_GRID_TEST(DBGridExSortTest);

#include "DBGridExSortTest.moc"
