// What Jet's index rules let into a table: null keys never collide in a
// unique index, "ignore nulls" leaves all-null keys out of the index, and a
// primary key or a required index admits no null key column. The writer
// follows them and the check agrees, read back by the independent readers.
#include "TestSupport.h"

#include "jet/Database.h"
#include "jet/IndexTree.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace testsupport;
namespace fs = std::filesystem;

TEST(IndexRules, NullKeysNeverCollideAndTheFlagsDecideWhatIsIndexed)
{
    fs::path dir = scratchDir("index-rules");
    std::string file = (dir / "rules.mdb").string();
    {
        std::ofstream schema(dir / "schema.txt");
        schema << "table t\n"
                  "  id long autoincrement\n"
                  "  code text(10)\n"
                  "  a long\n"
                  "  b long\n"
                  "  v long\n"
                  "  primary key (id)\n"
                  "  unique index by_code (code)\n"
                  "  index by_b (b) ignore nulls\n"
                  "  unique index by_ab (a, b)\n"
                  "  index by_v (v) required\n";
    }
    ASSERT_EQ(run(quote(jetdb()) + " create " + quote(file) + " " + quote((dir / "schema.txt").string())).status, 0);

    struct Step {
        const char* statement;
        const char* refusal; // part of the message; nullptr when the statement must succeed
    } steps[] = {
        // All key columns null, twice: no unique index sees a duplicate.
        {"insert into t (v) values (1)", nullptr},
        {"insert into t (v) values (2)", nullptr},
        // One of two key columns null, twice: still no duplicate.
        {"insert into t (a, v) values (1, 3)", nullptr},
        {"insert into t (a, v) values (1, 4)", nullptr},
        {"insert into t (a, b, v) values (1, 2, 5)", nullptr},
        {"insert into t (a, b, v) values (1, 2, 6)", "duplicate value in index 'by_ab'"},
        {"insert into t (code, v) values ('x', 7)", nullptr},
        {"insert into t (code, v) values ('X', 8)", "duplicate value in index 'by_code'"},
        // A required index admits no null, on insert or update.
        {"insert into t (code) values ('y')", "index 'by_v' admits no null, and column 'v' has no value"},
        {"update t set v = null where v = 1", "index 'by_v' admits no null"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.statement);
        testsupport::Run r = run(quote(jetdb()) + " sql " + quote(file) + " " + quote(step.statement), true);
        if (step.refusal) {
            EXPECT_NE(r.status, 0);
            EXPECT_NE(r.output.find(step.refusal), std::string::npos) << r.output;
        } else {
            EXPECT_EQ(r.status, 0) << r.output;
        }
    }

    auto db = jet::Database::open(file);
    jet::Table& t = db->table("t");
    auto entries = [&](const std::string& name) {
        for (const jet::LogicalIndex& li : t.def().indexes)
            if (li.utf8Name == name) {
                jet::IndexTree tree(db->pager(), t.def(), t.def().realIndexes.at(li.realIndex), t.location());
                return tree.entries().size();
            }
        ADD_FAILURE() << "no index " << name;
        return size_t(0);
    };
    EXPECT_EQ(t.def().rowCount, 6u);
    EXPECT_EQ(entries("by_code"), 6u); // null keys are entries of a plain unique index
    EXPECT_EQ(entries("by_ab"), 6u);
    EXPECT_EQ(entries("by_b"), 1u);    // "ignore nulls": only the row whose b is set
    EXPECT_EQ(check(file), "");
    if (!haveReaders()) return;
    std::string ours = jetdbJson(file, "t", (dir / "ours.json").string());
    EXPECT_EQ(compareRows(ours, mdbJson(file, "t", (dir / "mdbtools.json").string())), "");
    EXPECT_EQ(compareRows(ours, mdbReaderJson(file, "t", (dir / "mdbreader.json").string())), "");
}

// A primary key admits no null whatever its column's own Required flag says.
TEST(IndexRules, APrimaryKeyRefusesNullKeysOnInsertAndUpdate)
{
    fs::path dir = scratchDir("null-primary-key");
    std::string file = (dir / "pk.mdb").string();
    {
        std::ofstream schema(dir / "schema.txt");
        schema << "table t\n  code text(10)\n  v long\n  primary key (code)\n";
    }
    ASSERT_EQ(run(quote(jetdb()) + " create " + quote(file) + " " + quote((dir / "schema.txt").string())).status, 0);
    auto sql = [&](const std::string& statement) { return run(quote(jetdb()) + " sql " + quote(file) + " " + quote(statement), true); };
    ASSERT_EQ(sql("insert into t (code, v) values ('a', 1)").status, 0);
    for (const char* statement : {"insert into t (v) values (1)", "update t set code = null where v = 1"}) {
        SCOPED_TRACE(statement);
        testsupport::Run r = sql(statement);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find("table 't': index 'PrimaryKey' admits no null, and column 'code' has no value"),
                  std::string::npos)
            << r.output;
    }
    EXPECT_EQ(check(file), "");
    if (haveReaders()) {
        EXPECT_EQ(mdbCount(file, "t"), 1);
    }
}
