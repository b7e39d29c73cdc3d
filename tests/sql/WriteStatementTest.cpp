// Update, delete and insert on copies of Access-made files, and the data
// layer's write-backs by row locator. What we write is read back both by
// our own select and by mdbtools.
#include "SqlTestSupport.h"
#include "TestSupport.h"

#include "jet/Database.h"
#include "sql/Session.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace sqltest;
using Lines = std::vector<std::string>;

namespace {

using testsupport::fileBytes;

class WriteStatementTest : public ::testing::Test {
protected:
    void open(const std::string& name)
    {
        file = scratchCopy(name, ::testing::UnitTest::GetInstance()->current_test_info()->name());
        db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    }
    int64_t execute(const std::string& statement) { return sql::Session(*db).execute(statement); }
    // Closes the file so that another reader sees it as it is on disk.
    std::vector<std::string> mdbJson(const std::string& table)
    {
        db.reset();
        auto rows = mdbJsonRows(file, table);
        db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
        return rows;
    }

    std::string file;
    std::unique_ptr<jet::Database> db;
};

TEST_F(WriteStatementTest, UpdateChangesOnlyTheRowsItsWhereSelects)
{
    open("indexTestV2003.mdb");
    // Marking pending rows: the second run finds none left.
    EXPECT_EQ(execute("update Table1 set otherfk3=2 where otherfk1=1"), 2);
    EXPECT_EQ(execute("update Table1 set otherfk3=2 where otherfk1=1 and otherfk3=0"), 0);
    EXPECT_EQ(execute("UPDATE table1 SET DATA = 'it''s', otherfk2 = 12 WHERE id = 3"), 1);
    EXPECT_EQ(query(*db, "select * from Table1").lines(),
              (Lines{"0|0|10|baz0|0", "1|1|11|baz11|2", "2|1|11|baz11-2|2", "3|2|12|it's|0"}));
    if (haveMdbTools()) {
        EXPECT_EQ(mdbJson("Table1"),
                  (Lines{R"({"id":0,"otherfk1":0,"otherfk2":10,"data":"baz0","otherfk3":0})",
                         R"({"id":1,"otherfk1":1,"otherfk2":11,"data":"baz11","otherfk3":2})",
                         R"({"id":2,"otherfk1":1,"otherfk2":11,"data":"baz11-2","otherfk3":2})",
                         R"({"id":3,"otherfk1":2,"otherfk2":12,"data":"it's","otherfk3":0})"}));
    }
    // Without a where clause every row changes; null clears a column.
    EXPECT_EQ(execute("update Table1 set data = null"), 4);
    EXPECT_EQ(query(*db, "select id from Table1 where data is null").rows.size(), 4u);
}

TEST_F(WriteStatementTest, DeleteRemovesTheSelectedRows)
{
    open("indexTestV2003.mdb");
    EXPECT_EQ(execute("delete from Table1 where data = 'BAZ11' or id = 0"), 2);
    EXPECT_EQ(execute("delete * from Table1 where id = 0"), 0);
    EXPECT_EQ(query(*db, "select id from Table1").column(0), (Lines{"2", "3"}));
    if (haveMdbTools()) {
        EXPECT_EQ(mdbJson("Table1").size(), 2u);
    }
    EXPECT_EQ(execute("delete from Table1"), 2);
    EXPECT_TRUE(query(*db, "select * from Table1").rows.empty());
}

TEST_F(WriteStatementTest, InsertStoresConvertedLiteralsAndLetsTheTableFillTheRest)
{
    open("testUnicodeCompV2003.mdb");
    // The autonumber column is filled by the table.
    EXPECT_EQ(execute("insert into [Table] (Unicode) values ('O''Brien 密钥')"), 1);
    EXPECT_EQ(query(*db, "select id, unicode from [Table] where id > 8").lines(), (Lines{"9|O'Brien 密钥"}));
    if (haveMdbTools()) {
        EXPECT_EQ(mdbJson("Table").back(), R"({"ID":9,"Unicode":"O'Brien 密钥"})");
    }

    open("fixedTextTestV2003.mdb");
    EXPECT_EQ(execute("insert into users (i_user_id, c_user_login, i_user_flags, d_stamp_) "
                      "values (3, 'guest', 2.6, #1/31/2024 10:00:00 PM#)"),
              1);
    EXPECT_EQ(query(*db, "select c_user_login, i_user_flags, d_stamp_ from users where d_stamp_ = #2024-01-31 22:00#")
                  .lines(),
              (Lines{"guest|3|2024-01-31 22:00:00"}));

    open("fixedNumericTestV2003.mdb");
    EXPECT_EQ(execute("insert into test (col1, col2, col3) values ('memo', 12.4, -7)"), 1);
    EXPECT_EQ(query(*db, "select col2, col3 from test where col1 = 'memo'").lines(), (Lines{"12|-7"}));
}

TEST_F(WriteStatementTest, AFailingStatementChangesNothing)
{
    open("indexTestV2003.mdb");
    std::string before = fileBytes(file);
    // The second row would repeat the primary key: the first stays unchanged too.
    EXPECT_THROW(execute("update Table1 set id = 7 where id < 2"), jet::JetError);
    EXPECT_EQ(query(*db, "select id from Table1").column(0), (Lines{"0", "1", "2", "3"}));
    db.reset();
    EXPECT_EQ(fileBytes(file), before);
}

TEST_F(WriteStatementTest, ReadOnlyDatabaseRefusesChanges)
{
    open("indexTestV2003.mdb");
    db = jet::Database::open(file, jet::Pager::Access::ReadOnly);
    EXPECT_THROW(execute("delete from Table1"), jet::JetError);
    EXPECT_EQ(query(*db, "select id from Table1").rows.size(), 4u);
}

TEST_F(WriteStatementTest, RowsAQueryReturnedCanBeChangedAndDeletedByTheirOrigin)
{
    open("indexTestV2003.mdb");
    sql::Session session(*db);
    Result r = query(*db, "select a.id, b.data from Table1 a left join Table3 b on a.otherfk2 = b.id order by a.id desc");
    ASSERT_EQ(r.rows.size(), 4u);
    ASSERT_EQ(r.cols[0].baseTable, "Table1");
    jet::RowLocator third = r.origins[0]; // id 3

    session.updateRow("table1", third, {{"DATA", std::u16string(u"changed")}, {"otherfk3", int64_t(5)}});
    EXPECT_EQ(query(*db, "select data, otherfk3 from Table1 where id = 3").lines(), (Lines{"changed|5"}));
    // A bad value is refused before anything is written.
    EXPECT_THROW(session.updateRow("Table1", third, {{"otherfk3", std::u16string(u"x")}}), sql::SqlError);
    EXPECT_THROW(session.updateRow("Table1", third, {{"nope", int64_t(1)}}), sql::SqlError);
    EXPECT_EQ(query(*db, "select otherfk3 from Table1 where id = 3").lines(), (Lines{"5"}));

    session.deleteRow("Table1", third);
    EXPECT_EQ(query(*db, "select id from Table1").column(0), (Lines{"0", "1", "2"}));
    if (haveMdbTools()) {
        EXPECT_EQ(mdbJson("Table1").size(), 3u);
    }
    // The row is gone: a second delete or an update says so.
    try {
        sql::Session(*db).deleteRow("Table1", third);
        ADD_FAILURE() << "deleted twice";
    } catch (const sql::SqlError& e) {
        EXPECT_NE(std::string(e.what()).find("Row cannot be located"), std::string::npos) << e.what();
    }
    EXPECT_THROW(sql::Session(*db).updateRow("Table1", third, {{"data", std::u16string(u"x")}}), sql::SqlError);
    EXPECT_THROW(sql::Session(*db).deleteRow("NoSuchTable", r.origins[1]), sql::SqlError);
}

} // namespace
