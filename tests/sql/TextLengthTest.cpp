// A Text column's size is counted in characters, whether the file stores a
// character in two bytes (Access 2000 and later) or in one (Access 97): the
// result columns of a select and `jetdb schema` give the sizes mdb-schema
// shows for the same Access-made files.
#include "TestSupport.h"

#include "jet/Database.h"
#include "sql/Session.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

using namespace testsupport;

namespace {

using Sizes = std::map<std::string, int>;  // Text column -> size

struct ColumnsOnly : sql::RowSink {
    Sizes sizes;
    void columns(const std::vector<sql::ResultColumn>& columns) override
    {
        for (const sql::ResultColumn& c : columns)
            if (c.type == jet::ColumnType::Text) sizes[c.name] = c.length;
    }
    void row(const std::vector<jet::Value>&, jet::RowLocator) override {}
};

// The "NAME Text (N)" (mdb-schema) or "NAME Text(N)" (jetdb) lines of one table.
Sizes sizesIn(const std::string& schema, const std::string& table, const std::regex& line)
{
    Sizes sizes;
    std::istringstream lines(schema.substr(schema.find(table)));
    std::string text;
    std::getline(lines, text);
    while (std::getline(lines, text) && text.find("TABLE") == std::string::npos &&
           text.find(");") == std::string::npos) {
        std::smatch m;
        if (std::regex_search(text, m, line)) sizes[m[1]] = std::stoi(m[2]);
    }
    return sizes;
}

} // namespace

TEST(TextLength, ResultColumnsAndSchemaCountCharactersAsMdbSchemaDoes)
{
    if (!haveReaders()) GTEST_SKIP() << "mdbtools is not installed (under wine it never is)";
    for (const char* name : {"test2V1997.mdb", "test2V2000.mdb"}) {
        SCOPED_TRACE(name);
        const std::string file = testData(name);
        const testsupport::Run mdbSchema = run({"mdb-schema", file, "access"});
        ASSERT_EQ(mdbSchema.status, 0);
        const Sizes expected =
            sizesIn(mdbSchema.output, "[MSP_PROJECTS]", std::regex(R"(\[(\w+)\]\s+Text \((\d+)\))"));
        ASSERT_GE(expected.size(), 3u);
        ASSERT_EQ(expected.at("PROJ_OPT_CURRENCY_SYMBOL"), 20);

        const testsupport::Run jetdbSchema = run({jetdb(), "schema", file});
        ASSERT_EQ(jetdbSchema.status, 0);
        EXPECT_EQ(sizesIn(jetdbSchema.output, "TABLE MSP_PROJECTS ", std::regex(R"(^  (\w+) Text\((\d+)\))")),
                  expected);

        std::unique_ptr<jet::Database> db = openAccessFile(file);
        sql::Session session(*db);
        ColumnsOnly result;
        session.query("select * from MSP_PROJECTS", result);
        EXPECT_EQ(result.sizes, expected);
    }
}
