// `jetdb sql FILE "statement"`: selects print rows as `jetdb json` does,
// changes print how many rows they changed, errors go to stderr with exit 1.
#include "SqlTestSupport.h"
#include "TestSupport.h"

#include "jet/Database.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace sqltest;

namespace {

using testsupport::quote;

TEST(JetdbSqlCommand, PrintsRowsLikeJsonAndCountsOfChangedRows)
{
    std::string file = scratchCopy("indexTestV2003.mdb", "jetdb-sql");
    int rc = -1;
    EXPECT_EQ(runJetdb("sql " + quote(file) + " \"select * from Table1\"", &rc),
              runJetdb("json " + quote(file) + " Table1"));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(runJetdb("sql " + quote(file) + " \"select a.id, b.data as name from Table3 a left join Table1 b on "
                                               "a.id = b.otherfk2 where a.id >= 12\""),
              "{\"id\":12}\n{\"id\":13,\"name\":\"baz13\"}\n");

    EXPECT_EQ(runJetdb("sql " + quote(file) + " \"update Table1 set otherfk3 = 4 where otherfk1 = 1\"", &rc), "2\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(runJetdb("sql " + quote(file) + " \"delete from Table1 where otherfk3 = 4\""), "2\n");
    EXPECT_EQ(runJetdb("sql " + quote(file) + " \"select id from Table1\""), "{\"id\":0}\n{\"id\":3}\n");

    std::string error = runJetdb("sql " + quote(file) + " \"select * from Table1 where id = 'x'\"", &rc);
    EXPECT_NE(rc, 0);
    EXPECT_NE(error.find("Data type mismatch in criteria expression"), std::string::npos) << error;
    EXPECT_NE(error.find("(position 28,"), std::string::npos) << error;
}

// Arguments reach jetdb whole: a file name and a text outside ASCII, quotes
// and backslashes (on Windows through the UTF-16 command line).
TEST(JetdbSqlCommand, ArgumentsReachItWhole)
{
    const std::u8string name = u8"参数 Мир ä.mdb";
    std::filesystem::path copy = scratchDir("jetdb-arguments") / name;
    std::filesystem::remove(copy);
    std::filesystem::copy_file(dataFile("testUnicodeCompV2003.mdb"), copy);
    std::u8string copyText = copy.u8string();
    const std::string file(copyText.begin(), copyText.end());
    const std::string value = reinterpret_cast<const char*>(u8R"(say "hi" \\server\dir\ Мир ä 中文 😀)");

    int rc = -1;
    EXPECT_EQ(runJetdb("sql " + quote(file) + " " + quote("insert into [Table] (Unicode) values ('" + value + "')"), &rc),
              "1\n");
    EXPECT_EQ(rc, 0);
    auto db = jet::Database::open(file);
    EXPECT_EQ(query(*db, "select Unicode from [Table] where ID = 9").column(0), std::vector<std::string>{value});
    EXPECT_EQ(runJetdb("count " + quote(file) + " Table"), "9\n");

    std::string error = runJetdb("count " + quote(file + ".нет") + " Table", &rc);
    EXPECT_NE(rc, 0);
    EXPECT_NE(error.find("'" + file + ".нет' does not exist"), std::string::npos) << error;
}

} // namespace
