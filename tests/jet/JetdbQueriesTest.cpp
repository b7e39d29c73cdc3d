// `jetdb queries`: the SQL text of the saved queries of Access 97, 2003 and
// 2007 files, as Access's SQL view shows it, and what mdb-queries reads of
// them.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

using namespace testsupport;

namespace {

// The queries Access saved in the queryTest files, one of each kind, with
// the text its SQL view shows (a parameter's name with a space in brackets,
// as a statement needs it).
const std::map<std::string, std::string> kQueries = {
    {"SelectQuery",
     "SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\n"
     "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON (Table3.col1 = Table2.col2) "
     "AND (Table3.col1 = Table2.col1)\n"
     "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\n"
     "ORDER BY Table2.col1;"},
    {"DeleteQuery", "DELETE Table1.col1, Table1.col2, Table1.col3\n"
                    "FROM Table1\n"
                    "WHERE (((Table1.col1)>\"blah\"));"},
    {"AppendQuery", "INSERT INTO Table3 (col2, col2, col3)\n"
                    "SELECT [Table1].[col2], [Table2].[col2], [Table2].[col3]\n"
                    "FROM Table3, Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1];"},
    {"UpdateQuery", "PARAMETERS [User Name] Text;\n"
                    "UPDATE Table1\n"
                    "SET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], [Table2].[col1] = [User Name]\n"
                    "WHERE ((([Table2].[col1]) Is Not Null));"},
    {"MakeTableQuery",
     "SELECT Max(Table2.col1) AS MaxOfcol1, Table2.col2, Table3.col2 INTO Table4\n"
     "FROM (Table2 INNER JOIN Table1 ON Table2.col1 = Table1.col2) RIGHT JOIN Table3 ON Table1.col2 = Table3.col3\n"
     "GROUP BY Table2.col2, Table3.col2\n"
     "HAVING (((Max(Table2.col1))=\"buzz\") AND ((Table2.col2)<>\"blah\"));"},
    {"CrosstabQuery",
     "TRANSFORM Count([Table2].[col2]) AS CountOfcol2\n"
     "SELECT Table2_1.col1, [Table2].[col3], Avg(Table2_1.col2) AS AvgOfcol2\n"
     "FROM (Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1]) INNER JOIN Table2 AS Table2_1 ON "
     "[Table2].[col1]=Table2_1.col3\n"
     "WHERE ((([Table1].[col1])>\"10\") And ((Table2_1.col1) Is Not Null) And ((Avg(Table2_1.col2))>\"10\"))\n"
     "GROUP BY Table2_1.col1, [Table2].[col3]\n"
     "ORDER BY [Table2].[col3]\n"
     "PIVOT [Table1].[col1];"},
    {"UnionQuery", "Select Table1.col1, Table1.col2\n"
                   "where Table1.col1 = \"foo\"\n"
                   "UNION\n"
                   "Select Table2.col1, Table2.col2\n"
                   "UNION ALL Select Table3.col1, Table3.col2\n"
                   "where Table3.col3 > \"blah\";"},
    {"PassthroughQuery", "ALTER TABLE Table4 DROP COLUMN col5;"},
    {"DataDefinitionQuery", "CREATE TABLE Table5 (col1 CHAR, col2 CHAR);"},
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

} // namespace

TEST(JetdbQueries, EveryKindAsAccessShowsItInEveryVersion)
{
    for (const char* name : {"queryTestV1997.mdb", "queryTestV2003.mdb", "queryTestV2007.accdb"}) {
        SCOPED_TRACE(name);
        const std::string file = testData(name);
        // The listing: each query after its name, all nine of them.
        const std::string listing = run({jetdb(), "queries", file}).output;
        std::set<std::string> listed;
        for (const std::string& line : lines(listing))
            if (line.rfind("-- ", 0) == 0) listed.insert(line.substr(3, line.find(" (") - 3));
        std::set<std::string> expected;
        for (const auto& [query, sql] : kQueries) {
            expected.insert(query);
            EXPECT_EQ(run({jetdb(), "queries", file, query}).output, sql + "\n") << query;
            EXPECT_NE(listing.find(sql), std::string::npos) << query;
        }
        EXPECT_EQ(listed, expected);
        testsupport::Run missing = run({jetdb(), "queries", file, "NoSuchQuery"}, true);
        EXPECT_EQ(missing.status, 1);
        EXPECT_NE(missing.output.find("no query 'NoSuchQuery'"), std::string::npos) << missing.output;

        // mdb-queries names the same queries, and the conditions it reads
        // (it prints every kind as a select of its columns and tables) are
        // ours word for word.
        if (!haveReaders()) continue;
        std::set<std::string> theirNames;
        for (const std::string& line : lines(run({"mdb-queries", "-1", file}).output)) theirNames.insert(line);
        EXPECT_EQ(theirNames, expected);
        for (const char* query : {"SelectQuery", "DeleteQuery", "UpdateQuery", "CrosstabQuery"}) {
            const std::string theirs = run({"mdb-queries", file, query}).output;
            const size_t where = theirs.find(" WHERE ");
            ASSERT_NE(where, std::string::npos) << query << ": " << theirs;
            std::string condition = theirs.substr(where + 7);
            condition = condition.substr(0, std::min(condition.find(" ORDER BY"), condition.find_last_not_of(" \n") + 1));
            EXPECT_NE(kQueries.at(query).find("WHERE " + condition), std::string::npos)
                << query << ": " << condition;
        }
    }
}
