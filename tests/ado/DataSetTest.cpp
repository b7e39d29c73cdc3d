// Cursor, sorting, bookmarks, edit buffer and notifications of the client-side
// dataset, on rows held in memory.
#include "MemoryDataSet.h"

#include "ado/TDataSource.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// id, username, add_date, amount: fetch order deliberately not sorted.
class RegisterRows : public ::testing::Test {
protected:
    MemoryADODataSet ds;

    void SetUp() override
    {
        ds.defs = {field("id", ftInteger), field("username", ftWideString, 20),
                   field("add_date", ftDateTime), field("amount", ftFloat)};
        ds.rows = {
            {number(3), text(u"bob"), date(2024, 5, 1, 10), 2.5},
            {number(10), text(u"Alice"), date(2023, 12, 31), 100.0},
            {number(2), text(u"alice"), jet::Value{}, -1.0},
            {jet::Value{}, text(u"Carol"), date(2024, 5, 1, 9, 59, 59), jet::Value{}},
            {number(1), jet::Value{}, date(2024, 1, 2), 9.0},
        };
        ds.Open();
    }

    // The id column in the current order, read without moving ("-" for null).
    std::string ids()
    {
        std::string out;
        for (int i = 0; i < ds.RecordCount(); ++i) {
            if (!out.empty()) out += ",";
            TField* id = ds.FieldByName("ID");
            out += id->IsNullAt(i) ? "-" : id->AsStringAt(i).toStdString();
        }
        return out;
    }
};

TEST_F(RegisterRows, WalksRowsWithEofAndBof)
{
    EXPECT_EQ(ds.RecordCount(), 5);
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_TRUE(ds.Bof());
    std::vector<int> recNos;
    std::string seen;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        recNos.push_back(ds.RecNo());
        seen += ds.FieldByName("username")->AsString().toStdString() + ";";
    }
    EXPECT_EQ(recNos, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(seen, "bob;Alice;alice;Carol;;");
    EXPECT_EQ(ds.RecNo(), 5);  // Eof stays on the last record

    ds.Prior();
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 4);
    EXPECT_EQ(ds.MoveBy(-10), -3);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.RecNo(), 1);
    EXPECT_EQ(ds.MoveBy(2), 2);
    EXPECT_EQ(ds.RecNo(), 3);
    ds.Last();
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.RecNo(), 5);
    ds.setRecNo(99);
    EXPECT_EQ(ds.RecNo(), 5);
}

TEST_F(RegisterRows, FieldsByNameAndNumber)
{
    EXPECT_EQ(ds.FieldCount(), 4);
    EXPECT_EQ(ds.Fields(1)->FieldName(), "username");
    EXPECT_EQ(ds.FindField("USERNAME"), ds.Fields(1));
    EXPECT_EQ(ds.FindField("nope"), nullptr);
    EXPECT_THROW(ds.FieldByName("nope"), EDatabaseError);
    EXPECT_THROW(ds.Fields(4), EDatabaseError);
    EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 3);
    EXPECT_EQ(ds.FieldByName("add_date")->DisplayText(), "2024/5/1 10:00:00");
    ds.Next();
    EXPECT_EQ(ds.FieldByName("add_date")->DisplayText(), "2023/12/31");
}

TEST_F(RegisterRows, EmptyAndClosedDataSets)
{
    ds.Close();
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_EQ(ds.RecNo(), 0);
    EXPECT_EQ(ds.FieldCount(), 0);
    EXPECT_THROW(ds.Next(), EDatabaseError);
    EXPECT_THROW(ds.setSort("id"), EDatabaseError);

    ds.rows.clear();
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 0);
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    EXPECT_TRUE(ds.FieldByName("id")->IsNull());
    EXPECT_THROW(ds.Delete(), EDatabaseError);
    EXPECT_THROW(ds.Edit(), EDatabaseError);
    ds.setSort("id DESC");
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.GetBookmark().isNull());
}

TEST_F(RegisterRows, SortTexts)
{
    struct Case {
        const char* sort;
        const char* ids;
    };
    const Case cases[] = {
        {"id ASC ", "-,1,2,3,10"},            // numbers numerically, null first
        {"id DESC ", "10,3,2,1,-"},           // null last when descending
        {"username", "1,10,2,3,-"},           // null, then Alice/alice (fetch order kept), bob, Carol
        {"username DESC, id ASC", "-,3,2,10,1"},
        {"add_date", "2,10,1,-,3"},           // by time, not by text
        {"add_date desc", "3,-,1,10,2"},
        {"  amount   asc", "-,2,3,1,10"},
        {"[username] DESC , [id]  DESC", "-,3,10,2,1"},
        {"", "3,10,2,-,1"},                   // fetch order again
    };
    for (const Case& c : cases) {
        ds.setSort(QString::fromUtf8(c.sort));
        EXPECT_EQ(ids(), c.ids) << "Sort = '" << c.sort << "'";
        EXPECT_EQ(ds.Sort(), QString::fromUtf8(c.sort));
    }
}

TEST(SortText, TextBeyondASharedPrefixAndTies)
{
    // Every serial starts with "usbk-" in some letter case; two are equal but for case.
    MemoryADODataSet ds;
    ds.defs = {field("id", ftInteger), field("serial", ftWideString, 20)};
    const char16_t* serials[] = {u"USBK-10", u"usbk-9", u"USBK-1", u"usbk-", nullptr,
                                 u"USBK-10a", u"usbk-1", u"USBK-0999999", u"usbk-12345678x", u"USBK-12345678A"};
    for (int i = 0; i < 10; ++i) ds.rows.push_back({number(i), serials[i] ? text(serials[i]) : jet::Value{}});
    ds.Open();
    auto order = [&ds] {
        std::string out;
        for (int i = 0; i < ds.RecordCount(); ++i) out += ds.Fields(0)->AsStringAt(i).toStdString();
        return out;
    };
    ds.setSort("serial");
    EXPECT_EQ(order(), "4372605981");
    ds.setSort("serial DESC");
    EXPECT_EQ(order(), "1895026734");  // 2 and 6 tie and keep fetch order
    ds.setSort("serial DESC, id DESC");
    EXPECT_EQ(order(), "1895062734");

    // Letters beyond Latin-1, folded too.
    ds.Close();
    ds.rows = {{number(0), text(u"Ωb")}, {number(1), text(u"ωa")}, {number(2), text(u"Ωa")}, {number(3), text(u"锁")}};
    ds.Open();
    ds.setSort("serial");
    EXPECT_EQ(order(), "1203");
}

TEST_F(RegisterRows, BadSortTextKeepsOrderAndText)
{
    ds.setSort("id DESC ");
    for (const char* bad : {"nosuch ASC", "id,", "id sideways", ",id"}) {
        EXPECT_THROW(ds.setSort(QString::fromUtf8(bad)), EDatabaseError) << bad;
        EXPECT_EQ(ids(), "10,3,2,1,-") << bad;
        EXPECT_EQ(ds.Sort(), "id DESC ");
    }
    try {
        ds.setSort("nosuch ASC");
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(e.message().contains("nosuch")) << e.message().toStdString();
    }
}

TEST_F(RegisterRows, SortKeepsCurrentRecordAndBookmarks)
{
    ds.setRecNo(4);  // Carol, id null
    TBookmark carol = ds.GetBookmark();
    ds.setRecNo(2);  // Alice, id 10
    TBookmark alice = ds.GetBookmark();

    ds.setSort("id ASC ");
    EXPECT_EQ(ds.FieldByName("username")->AsString(), "Alice");
    EXPECT_EQ(ds.RecNo(), 5);
    ds.setSort("id DESC ");
    EXPECT_EQ(ds.RecNo(), 1);

    ASSERT_TRUE(ds.BookmarkValid(carol));
    ds.GotoBookmark(carol);
    EXPECT_EQ(ds.FieldByName("username")->AsString(), "Carol");
    EXPECT_EQ(ds.RecNo(), 5);
    EXPECT_LT(ds.CompareBookmarks(alice, carol), 0);
    ds.setSort("username");
    ds.GotoBookmark(alice);
    EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 10);
    EXPECT_EQ(ds.RecNo(), 2);

    ds.FreeBookmark(carol);
    EXPECT_TRUE(carol.isNull());
    EXPECT_FALSE(ds.BookmarkValid(carol));
    EXPECT_THROW(ds.GotoBookmark(carol), EDatabaseError);
}

TEST_F(RegisterRows, BookmarksDieWithTheirRecordOrOpening)
{
    ds.setRecNo(3);
    TBookmark third = ds.GetBookmark();
    ds.setRecNo(2);
    TBookmark second = ds.GetBookmark();
    ds.Delete();
    EXPECT_FALSE(ds.BookmarkValid(second));
    EXPECT_THROW(ds.GotoBookmark(second), EDatabaseError);
    EXPECT_TRUE(ds.BookmarkValid(third));

    ds.Close();
    ds.Open();
    EXPECT_FALSE(ds.BookmarkValid(third));  // belongs to the previous opening
}

TEST_F(RegisterRows, DeleteMovesToTheNextRecordAndTellsWhichRow)
{
    ds.setSort("id DESC ");  // 10,3,2,1,-
    ds.setRecNo(2);          // id 3, fetched first (tag 0)
    ds.Delete();
    ASSERT_EQ(ds.deletions, (std::vector<uint64_t>{0}));
    EXPECT_EQ(ds.RecordCount(), 4);
    EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 2);
    ds.Last();
    ds.Delete();  // the last one: the new last becomes current
    EXPECT_EQ(ds.RecordCount(), 3);
    EXPECT_EQ(ds.RecNo(), 3);
    EXPECT_EQ(ds.FieldByName("id")->AsInteger(), 1);
    ds.setSort("");
    EXPECT_EQ(ids(), "10,2,1");  // deleted rows stay out after a re-sort

    ds.failWrites = true;
    EXPECT_THROW(ds.Delete(), EDatabaseError);
    EXPECT_EQ(ds.RecordCount(), 3);  // a refused delete keeps the record
}

TEST_F(RegisterRows, EditPostAndCancel)
{
    ds.setRecNo(2);
    EXPECT_THROW(ds.FieldByName("username")->setAsString("x"), EDatabaseError);  // not in edit state

    ds.Edit();
    EXPECT_EQ(ds.State(), dsEdit);
    ds.FieldByName("username")->setAsString("Alicia");
    ds.FieldByName("amount")->setAsString("12.5");
    ds.FieldByName("id")->setAsInteger(10);  // unchanged value: not written
    EXPECT_EQ(ds.FieldByName("username")->AsString(), "Alicia");
    EXPECT_EQ(ds.FieldByName("username")->AsStringAt(1), "Alicia");  // views see the edit buffer
    ds.Post();
    EXPECT_EQ(ds.State(), dsBrowse);
    ASSERT_EQ(ds.posts.size(), 1u);
    EXPECT_EQ(ds.posts[0].tag, 1u);
    ASSERT_EQ(ds.posts[0].changes.size(), 2u);
    EXPECT_EQ(ds.posts[0].changes[0].first, 1);
    EXPECT_EQ(ds.posts[0].changes[0].second, text(u"Alicia"));
    EXPECT_EQ(ds.posts[0].changes[1].second, jet::Value(12.5));
    EXPECT_EQ(ds.FieldByName("username")->AsString(), "Alicia");

    ds.Edit();
    ds.FieldByName("username")->Clear();
    ds.Cancel();
    EXPECT_EQ(ds.FieldByName("username")->AsString(), "Alicia");
    EXPECT_EQ(ds.posts.size(), 1u);

    // Moving away posts a pending edit, as a grid expects.
    ds.Edit();
    ds.FieldByName("add_date")->setAsString("2020/2/29 8:05:00");
    ds.Next();
    ASSERT_EQ(ds.posts.size(), 2u);
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(ds.FieldByName("add_date")->DisplayTextAt(1), "2020/2/29 8:05:00");
}

TEST_F(RegisterRows, RefusedPostKeepsTheEdit)
{
    ds.Edit();
    ds.FieldByName("username")->setAsString("zed");
    ds.failWrites = true;
    EXPECT_THROW(ds.Post(), EDatabaseError);
    EXPECT_EQ(ds.State(), dsEdit);
    EXPECT_EQ(ds.FieldByName("username")->AsString(), "zed");
    ds.Cancel();
    EXPECT_EQ(ds.FieldByName("username")->AsString(), "bob");
}

TEST_F(RegisterRows, BadTextLeavesTheFieldAlone)
{
    ds.Edit();
    EXPECT_THROW(ds.FieldByName("id")->setAsString("12a"), EDatabaseError);
    EXPECT_THROW(ds.FieldByName("id")->setAsString("99999999999"), EDatabaseError);
    EXPECT_THROW(ds.FieldByName("add_date")->setAsString("2024/2/30"), EDatabaseError);
    EXPECT_THROW(ds.FieldByName("username")->setAsString(QString(21, u'x')), EDatabaseError);
    EXPECT_FALSE(ds.Modified());
    ds.FieldByName("id")->setAsString("  ");  // blank clears a number
    EXPECT_TRUE(ds.FieldByName("id")->IsNull());
    ds.Cancel();
}

TEST_F(RegisterRows, ReadOnlyLockRefusesChanges)
{
    ds.Close();
    ds.setLockType(ltReadOnly);
    ds.Open();
    EXPECT_THROW(ds.Edit(), EDatabaseError);
    EXPECT_THROW(ds.Delete(), EDatabaseError);
    EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(RegisterRows, EventsFireAroundChanges)
{
    std::vector<std::string> log;
    auto record = [&log](const char* name) { return [&log, name](TDataSet*) { log.push_back(name); }; };
    ds.AfterScroll = record("scroll");
    ds.BeforePost = record("beforePost");
    ds.AfterPost = record("afterPost");
    ds.BeforeDelete = record("beforeDelete");
    ds.AfterDelete = record("afterDelete");
    ds.Next();
    ds.Edit();
    ds.FieldByName("amount")->setAsFloat(1);
    ds.Post();
    ds.Delete();
    EXPECT_EQ(log, (std::vector<std::string>{"scroll", "beforePost", "afterPost", "beforeDelete", "afterDelete", "scroll"}));

    ds.BeforeDelete = [](TDataSet*) { throw EDatabaseError("vetoed"); };
    EXPECT_THROW(ds.Delete(), EDatabaseError);
    EXPECT_EQ(ds.RecordCount(), 4);
}

TEST_F(RegisterRows, DataSourceRelaysChanges)
{
    TDataSource source;
    source.setDataSet(&ds);
    QSignalSpy active(&source, &TDataSource::activeChanged);
    QSignalSpy moved(&source, &TDataSource::currentMoved);
    QSignalSpy data(&source, &TDataSource::dataChanged);
    QSignalSpy record(&source, &TDataSource::recordChanged);
    QSignalSpy layout(&source, &TDataSource::layoutChanged);

    ds.Next();
    EXPECT_EQ(moved.count(), 1);
    ds.setSort("id");
    EXPECT_EQ(data.count(), 1);
    ds.Edit();
    ds.FieldByName("amount")->setAsFloat(7);
    EXPECT_EQ(record.count(), 1);
    EXPECT_EQ(record.at(0).at(0).value<TField*>(), ds.FieldByName("amount"));
    ds.Cancel();
    ds.FieldByName("amount")->setVisible(false);
    EXPECT_EQ(layout.count(), 1);

    // Held back while disabled, then one summary.
    ds.DisableControls();
    for (ds.First(); !ds.Eof(); ds.Next()) {
    }
    ds.setSort("id DESC");
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(data.count(), 1);
    ds.EnableControls();
    EXPECT_EQ(data.count(), 2);
    EXPECT_EQ(moved.count(), 1);

    ds.Close();
    ds.Open();
    ASSERT_EQ(active.count(), 2);
    EXPECT_FALSE(active.at(0).at(0).toBool());
    EXPECT_TRUE(active.at(1).at(0).toBool());

    // A source outliving its dataset is left without one; the other way round too.
    {
        MemoryADODataSet shortLived;
        source.setDataSet(&shortLived);
    }
    EXPECT_EQ(source.DataSet(), nullptr);
    auto detached = std::make_unique<TDataSource>();
    detached->setDataSet(&ds);
    detached.reset();
    ds.Next();  // must not reach the freed source
}

TEST_F(RegisterRows, PeekDoesNotMoveAndChecksRange)
{
    ds.setRecNo(2);
    EXPECT_EQ(ds.FieldByName("username")->DisplayTextAt(4), "");
    EXPECT_EQ(ds.FieldByName("id")->TextAt(0), "3");
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_THROW(ds.peekValue(5, 0), EDatabaseError);
    EXPECT_THROW(ds.peekValue(-1, 0), EDatabaseError);
    EXPECT_THROW(ds.peekValue(0, 4), EDatabaseError);
}

} // namespace

namespace {

TEST(FetchedRows, ValueThatDoesNotFitItsColumnFailsTheOpen)
{
    const std::vector<jet::Value> badRows[] = {
        {text(u"12"), text(u"a")},              // text in a number column
        {number(int64_t(1) << 40), text(u"a")}, // beyond a 32-bit column
        {number(1), number(5)},                 // number in a text column
        {number(1)},                            // a value short
    };
    for (const auto& bad : badRows) {
        MemoryADODataSet ds;
        ds.defs = {field("n", ftInteger), field("s", ftWideString, 10)};
        ds.rows = {{number(7), text(u"ok")}, bad};
        EXPECT_THROW(ds.Open(), EDatabaseError);
        EXPECT_FALSE(ds.Active());
        EXPECT_EQ(ds.FieldCount(), 0);
        ds.rows.pop_back();
        ds.Open();
        EXPECT_EQ(ds.RecordCount(), 1);
    }
}

} // namespace
