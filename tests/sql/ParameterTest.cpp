// Statements with parameter marks (? and :name) on Access-made files: a
// value means what the literal in its place would mean, whatever text it
// holds, and a statement whose marks and values do not match is refused.
#include "SqlTestSupport.h"

#include "jet/Database.h"
#include "sql/Session.h"

#include <gtest/gtest.h>

using namespace sqltest;
using Lines = std::vector<std::string>;

namespace {

// indexTestV2003.mdb, Table1 (id, otherfk1, otherfk2, data, otherfk3):
//   0,0,10,baz0,0 / 1,1,11,baz11,0 / 2,1,11,baz11-2,0 / 3,2,13,baz13,0
// with an index on id.
const char* const kIndexFile = "indexTestV2003.mdb";

jet::Value text(const char16_t* s) { return std::u16string(s); }

TEST(Parameters, ValuesStandWhereLiteralsStand)
{
    auto db = jet::Database::open(dataFile(kIndexFile));
    struct Case {
        const char* statement;
        sql::ParameterValues values;
        Lines ids;
    };
    const Case cases[] = {
        {"select id from Table1 where id = ?", {{"", int64_t(2)}}, {"2"}},
        {"select id from Table1 where data = :d", {{"d", text(u"BAZ11  ")}}, {"1"}}, // Jet's text comparison
        {"select id from Table1 where otherfk1 = :k or otherfk2 = :K order by id", {{"k", int64_t(1)}}, {"1", "2"}},
        {"select id from Table1 where id >= ? and data <> :d and id <= ? order by id desc",
         {{"", int64_t(1)}, {"d", text(u"baz11")}, {"", int64_t(3)}},
         {"3", "2"}},
        {"select id from Table1 where id in (?, ?, :x) order by id", {{"", int64_t(3)}, {"x", int64_t(0)}, {"", 1.0}},
         {"0", "1", "3"}},
        {"select id from Table1 where data = ? or data = ?", {{"", text(u"x' or 'a'='a")}, {"", text(u"\\' or 1=1 --")}}, {}},
        {"select id from Table1 where data = :d", {{"d", text(u"[data]")}}, {}},
        {"select id from Table1 where data = ?", {{"", text(u":d")}}, {}},
        {"select id from Table1 where data is null and id = ?", {{"", std::monostate{}}}, {}},
        {"select id from Table1 where id = ?", {{"", std::monostate{}}}, {}},
        // Marks inside texts, names and dates are not marks.
        {"select id from Table1 where data <> '?' and data <> ':d' and id = ?", {{"", int64_t(0)}}, {"0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        EXPECT_EQ(query(*db, c.statement, c.values).column(0), c.ids);
    }
}

TEST(Parameters, ChangesTakeTheirValuesFromParameters)
{
    const std::string file = scratchCopy(kIndexFile, "parameters-write");
    auto db = jet::Database::open(file, jet::Pager::Access::ReadWrite);
    sql::Session session(*db);
    EXPECT_EQ(session.execute("update Table1 set data = :d where id = :id",
                              {{"d", text(u"it's; drop table Table1 --")}, {"id", int64_t(1)}}),
              1);
    EXPECT_EQ(session.execute("insert into Table1 (id, otherfk1, otherfk2, data, otherfk3) values (?, ?, ?, ?, ?)",
                              {{"", int64_t(9)}, {"", int64_t(0)}, {"", int64_t(10)}, {"", text(u"'")}, {"", int64_t(0)}}),
              1);
    EXPECT_EQ(session.execute("delete from Table1 where data = ?", {{"", text(u"'")}}), 1);
    EXPECT_EQ(query(*db, "select data from Table1 where id = 1").column(0), (Lines{"it's; drop table Table1 --"}));
    EXPECT_EQ(query(*db, "select id from Table1 order by id").column(0), (Lines{"0", "1", "2", "3"}));
    db.reset();
    int rc = 0;
    EXPECT_EQ(runJetdb("check \"" + file + "\"", &rc), "");
    EXPECT_EQ(rc, 0);
    if (haveMdbTools()) {
        const std::vector<std::string> rows = mdbJsonRows(file, "Table1");
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_NE(rows[1].find("it's; drop table Table1 --"), std::string::npos) << rows[1];
    }
}

TEST(Parameters, MarksAndValuesMustMatch)
{
    auto db = jet::Database::open(dataFile(kIndexFile));
    struct Case {
        const char* statement;
        sql::ParameterValues values;
        const char* message;
    };
    const Case cases[] = {
        {"select id from Table1 where id = ?", {}, "No value given for one or more required parameters. (position 34"},
        {"select id from Table1 where id = :id", {{"", int64_t(1)}}, "The parameter :id has none."},
        {"select id from Table1 where id = ?", {{"", int64_t(1)}, {"", int64_t(2)}}, "more values for ? marks"},
        {"select id from Table1 where id = 1", {{"x", int64_t(1)}}, "a value for the parameter :x"},
        {"select id from Table1 where id = : x", {}, "':' must begin a parameter name"},
        {"select id from ? where id = 1", {{"", text(u"Table1")}}, "Syntax error in FROM clause."},
        {"select ? from Table1", {{"", text(u"id")}}, "The SELECT statement includes a reserved word"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        std::string message;
        try {
            query(*db, c.statement, c.values);
        } catch (const sql::SqlError& e) {
            message = e.what();
        }
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
    }
}

// The marks the data layer binds, as the lexer finds them.
TEST(Parameters, MarksOfAStatement)
{
    const auto marks = sql::ParameterBinding::marksOf(
        "select * from [a?b] where x = '?:y' and d = #1/2/2024# and y = :y and z = ? and w = :Ünïcödé");
    ASSERT_EQ(marks.size(), 3u);
    EXPECT_EQ(marks[0].name, "y");
    EXPECT_EQ(marks[1].name, "");
    EXPECT_EQ(marks[2].name, "Ünïcödé");
    EXPECT_THROW(sql::ParameterBinding::marksOf("select 'open"), sql::SqlError);
}

} // namespace
