// Tables whose definition needs more than one page (255 columns, long
// names, several indexes): written across a chain of definition pages as
// Access does, read back that way by us and by the independent readers,
// and kept whole by writes and compact.
#include "TestSupport.h"

#include "jet/Database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string columnName(int i)
{
    char name[8];
    std::snprintf(name, sizeof name, "c%03d", i);
    return name;
}

testsupport::Run sql(const std::string& file, const std::string& statement)
{
    return run(quote(jetdb()) + " sql " + quote(file) + " " + quote(statement), true);
}

void expectReadersAgree(const std::string& file, const std::string& table, long long rows)
{
    EXPECT_EQ(check(file), "");
    if (!haveReaders()) return;
    fs::path dir = fs::path(file).parent_path();
    std::string ours = jetdbJson(file, table, (dir / "ours.json").string());
    EXPECT_EQ(compareRows(ours, mdbJson(file, table, (dir / "mdbtools.json").string()), true), "");
    EXPECT_EQ(compareRows(ours, mdbReaderJson(file, table, (dir / "mdbreader.json").string()), true), "");
    EXPECT_EQ(mdbCount(file, table), rows);
}

} // namespace

TEST(DefinitionChain, TablesOf255ColumnsAreCreatedWrittenAndCompacted)
{
    struct Case {
        const char* what;
        const char* option;
        size_t pages; // definition pages of the wide table
    } cases[] = {{"Access 97", "--jet3", 4}, {"Access 2000", "", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path dir = scratchDir(std::string("definition-chain") + c.option);
        std::string file = (dir / "wide.mdb").string();
        {
            std::ofstream schema(dir / "schema.txt");
            schema << "table wide\n";
            for (int i = 1; i <= 253; ++i) schema << "  " << columnName(i) << " long\n";
            schema << "  c254 text(50)\n  c255 memo\n"
                      "  primary key (c001)\n  index by_last (c253 desc, c254)\n  unique index by_text (c254)\n";
        }
        testsupport::Run made = run(quote(jetdb()) + " create " + c.option + " " + quote(file) + " " +
                                        quote((dir / "schema.txt").string()),
                                    true);
        ASSERT_EQ(made.status, 0) << made.output;
        {
            auto db = jet::Database::open(file);
            const jet::TableDef& def = db->table("wide").def();
            EXPECT_EQ(def.pages.size(), c.pages);
            ASSERT_EQ(def.columns.size(), 255u);
            EXPECT_EQ(def.columns.back().utf8Name, "c255");
            ASSERT_EQ(def.indexes.size(), 3u);
            EXPECT_EQ(def.indexes.back().utf8Name, "by_text");
        }
        std::string schema = run(quote(jetdb()) + " schema " + quote(file) + " wide").output;
        EXPECT_NE(schema.find("  INDEX by_last (c253 DESC, c254)"), std::string::npos) << schema;

        for (int row = 1; row <= 40; ++row) {
            std::string columns = "c001, c128, c253, c254, c255", values = std::to_string(row) + ", " +
                                                                             std::to_string(row * 128) + ", " +
                                                                             std::to_string(row % 7) + ", 'text " +
                                                                             std::to_string(row) + "', 'memo'";
            ASSERT_EQ(sql(file, "insert into wide (" + columns + ") values (" + values + ")").output, "1\n") << row;
        }
        EXPECT_EQ(sql(file, "update wide set c200 = 200 where c001 = 3").output, "1\n");
        EXPECT_EQ(sql(file, "delete from wide where c253 = 0").output, "5\n");
        EXPECT_EQ(run(quote(jetdb()) + " count " + quote(file) + " wide").output, "35\n");
        expectReadersAgree(file, "wide", 35);

        std::string compacted = (dir / "compacted.mdb").string();
        testsupport::Run r = run(quote(jetdb()) + " compact " + quote(file) + " " + quote(compacted), true);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(jet::Database::open(compacted)->table("wide").def().pages.size(), c.pages);
        expectReadersAgree(compacted, "wide", 35);
    }
}
